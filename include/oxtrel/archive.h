#pragma once

// Reading an archive: open it, list its entries, find one by path, read or stream its contents.
//
// Ownership: an Archive owns its open file and the catalogue read from it; it is move-only and
// closes the file when it goes. Entries, and every reference or span taken from an Archive, stay
// valid as long as the Archive does and is not moved from. An Archive that was moved from holds
// nothing: it has no entries and no path, finds and matches nothing, and readEntry, streamEntry
// and extract fail with invalidArgument.
//
// Thread safety: an Archive does not change after openArchive (its entry list is made once, on
// first use). Any number of threads may call entries, entryAt, findEntry, matchEntries, readEntry,
// streamEntry and extract on one Archive at the same time: every read names its own file offset
// and every call keeps its own decoder.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <oxtrel/export.h>
#include <oxtrel/result.h>

namespace oxtrel {

struct ArchiveState;
struct OXTREL_API ArchiveStateRelease {
  void operator()(ArchiveState* state) const;
};

struct Archive {
  std::unique_ptr<ArchiveState, ArchiveStateRelease> state;  // null only after a move
};

// One file record, in table order (folder by folder, records as stored).
struct Entry {
  std::string folder;               // the folder's name as stored, '\' separators kept
  std::optional<std::string> name;  // none when the record's hash names no file in the archive
  // "<folder>/<name>" with every '\' written '/' ("<name>" in the folder with the empty name):
  // the text patterns match. Empty when unnamed.
  std::string path;
  uint32_t indexInFolder = 0;       // the record's place in its folder's table, from 0
  std::array<uint8_t, 8> hash{};    // the record's name hash
  uint32_t offset = 0;              // where the payload starts in the archive
  uint32_t storedSize = 0;          // the payload's byte count in the archive
  // Compressed archives: the size the payload's prefix announces; none in a stored archive or
  // when the payload does not lie wholly inside the archive.
  std::optional<uint32_t> unpackedSize;
  bool compressed = false;          // the payload is a size prefix and a zlib stream
  bool payloadInArchive = false;    // the payload lies wholly inside the archive file

  friend bool operator==(const Entry&, const Entry&) = default;
};

// Opens the archive at path and reads its tables. Errors: cannotOpen (missing, unreadable, not a
// regular file; where is path), truncated (the file ends inside the tables; where is
// "catalogue"), cannotRead (a read failed).
[[nodiscard]] OXTREL_API Result<Archive> openArchive(const std::string& path);

// The path the archive was opened by.
OXTREL_API const std::string& archivePath(const Archive& archive);

// Every record in table order, unnamed ones too. The list is made on the first call and kept.
OXTREL_API std::span<const Entry> entries(const Archive& archive);

// The number of records, and record `index` (below entryCount; past it an empty Entry) made on
// demand and not kept: for walking a large archive without holding every entry at once.
OXTREL_API size_t entryCount(const Archive& archive);
OXTREL_API Entry entryAt(const Archive& archive, size_t index);

// The named entry whose path equals path, ignoring ASCII case, taking '/' and '\' alike and
// empty components as absent, as the file system does (a leading "data/" is not part of a path). When several records share a path, the last in table
// order: the one whose contents an extraction leaves on disk. Null when there is none.
OXTREL_API const Entry* findEntry(const Archive& archive, std::string_view path);

// The entries that path globs select, as extract selects them. A pattern matches an entry's
// path: '*' and '?' stay within one level, '**' crosses levels, [...] is a class, '\' escapes,
// ASCII letters match either case. With no patterns every record is selected, unnamed ones too
// (excludes apply to named ones); with patterns, unnamed records never are.
struct EntryMatches {
  std::vector<size_t> indices;              // for entries() or entryAt, in table order
  std::vector<std::string> unusedPatterns;  // patterns that selected nothing an exclude left
};
OXTREL_API EntryMatches matchEntries(const Archive& archive, const std::vector<std::string>& patterns,
                          const std::vector<std::string>& excludes);

// "data\<folder>\<name>", the bytes as stored: how extract's events name an entry. Empty when
// the entry is unnamed.
OXTREL_API std::string consolePath(const Entry& entry);

// The entry's contents, decoded and verified (a compressed payload's checksum is checked). entry
// must describe a record of this archive (entries() or entryAt). Errors (where is the entry's path): truncated (the
// payload runs past the end of the archive), unpackFailed (it cannot be inflated), cannotRead.
// A stored payload that merely looks compressed is returned unchanged.
[[nodiscard]] OXTREL_API Result<std::vector<uint8_t>> readEntry(const Archive& archive, const Entry& entry);

// Writes the entry's contents to fd at its file position; the descriptor stays the caller's.
// Errors as readEntry, and cannotWrite (with errno) when writing fails; bytes written before a
// failure stay written.
[[nodiscard]] OXTREL_API Status streamEntry(const Archive& archive, const Entry& entry, int fd);

}  // namespace oxtrel
