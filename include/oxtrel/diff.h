#pragma once

// What changed between two archives, by the contents an extraction of each would leave on disk.
//
// A path is an entry's path (Entry::path: "<folder>/<name>" with '/' separators). Where several
// records share a path, the last in table order stands for it: its contents are what extraction
// leaves there. Unnamed records write no file, so they take no part; they are only counted.
// Paths are compared byte for byte, so "a.dds" and "A.dds" are two files, as on a case-sensitive
// file system.
//
// Contents, not places: an entry that moved to another offset, or was compressed again at another
// level, is unchanged when it decodes to the same bytes. The stored bytes are compared first,
// piece by piece with positional reads: when both archives store the entry alike (both compressed
// or both not) with the same stored size and the same stored bytes, it is unchanged, and nothing
// is inflated; two stored payloads that differ are modified. Only where a compressed payload
// differs from the other side's (compressed or stored) are the contents decoded, streaming, and
// compared; both sides are then read to their ends, so a damaged stream is reported rather than
// taken for a change. Added and removed entries are not read.
//
// Memory: the two catalogues, a list of the compared records (a few words each, no path), and a
// few MiB of buffers, whatever the entries' sizes. Both archives are only read.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <oxtrel/archive.h>
#include <oxtrel/export.h>
#include <oxtrel/result.h>

namespace oxtrel {

enum class ChangeKind : char {
  added = 'A',     // the path is in the new archive only
  removed = 'D',   // the path is in the old archive only
  modified = 'M',  // in both, with different contents
};

struct ArchiveChange {
  ChangeKind kind = ChangeKind::modified;
  std::string path;

  friend bool operator==(const ArchiveChange&, const ArchiveChange&) = default;
};

struct DiffSettings {
  // Path globs as matchEntries takes them, applied to both archives: only the paths they select
  // on either side are compared. None compares every named entry.
  std::vector<std::string> patterns{};
  std::vector<std::string> excludes{};
  // When set, no further path is compared once it holds a value other than 0 (a callback or a
  // signal handler may store to it): the call fails as stopped.
  const std::atomic<int>* stop = nullptr;
};

struct DiffSummary {
  uint64_t changes = 0;        // changes delivered
  uint64_t compared = 0;       // paths present in both archives
  uint64_t unnamedOld = 0;     // records of each archive whose hash names no file: left out
  uint64_t unnamedNew = 0;
  std::vector<std::string> unusedPatterns;  // patterns that selected nothing in either archive
};

// Called once per change, in ascending byte order of path, on the calling thread. The change is
// valid only during the call.
using ArchiveChangeCallback = std::function<void(const ArchiveChange&)>;

// Compares older with newer and delivers every change, sorted by path, as it is found. Stops at
// the first entry whose contents cannot be had (the changes before it were delivered): truncated
// (its payload runs past the end of its archive), unpackFailed (a stream that must be decoded is
// damaged), cannotRead; stopped. Such an error's where reads "<path> in <archive path>". Only entries in
// both archives can fail: an added or removed one is delivered without being read. invalidArgument
// for an archive that was moved from.
[[nodiscard]] OXTREL_API Result<DiffSummary> diffArchives(const Archive& older, const Archive& newer,
                                                          const DiffSettings& settings,
                                                          const ArchiveChangeCallback& onChange);

// The same, collecting the changes.
[[nodiscard]] OXTREL_API Result<std::vector<ArchiveChange>> diffArchives(const Archive& older,
                                                                         const Archive& newer,
                                                                         const DiffSettings& settings = {});

}  // namespace oxtrel
