#pragma once

// Building an archive, from a directory tree or from a list of (path, contents) pairs.
//
// The archive appears at archivePath only when complete: on any failure nothing is left at or
// beside it, and a file that stood there is unchanged. One input always gives one archive,
// byte for byte, whatever jobs is.

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <oxtrel/compression.h>
#include <oxtrel/export.h>
#include <oxtrel/jobs.h>
#include <oxtrel/result.h>

namespace oxtrel {

struct PackSettings {
  bool compress = false;                 // zlib-compress every payload
  int level = kDefaultCompressionLevel;  // kMin..kMaxCompressionLevel; used when compress
  unsigned jobs = 1;                     // threads that compress, at most kMaxJobs; 0 for one per CPU
  // When set, the pack ends as soon as it holds a value other than 0 (a signal handler may store
  // to it): the call fails as stopped, and nothing is left at or beside the archive's path.
  const std::atomic<int>* stop = nullptr;
};

struct PackSummary {
  uint32_t fileCount = 0;
  uint32_t folderCount = 0;
  uint64_t bytesIn = 0;   // the packed files' sizes
  uint64_t bytesOut = 0;  // the archive's size
};

// Receives what the caller should know that did not stop the pack: an entry not packed and why,
// a stored file that looks compressed. The notes come on the calling thread, in order, before the
// pack returns, whether it succeeded or failed; the view is valid only during the call.
using PackNoteCallback = std::function<void(std::string_view note)>;

// Packs every regular file below directory; files directly in it go in the folder with the empty
// name. Symbolic links, devices and FIFOs are skipped (and noted). A symbolic link at archivePath
// is written through (its target is replaced); a regular file there is replaced by one with its
// permission bits (and owner and group when run as root); anything else there is refused as
// cannotWrite ("not a regular file") before anything is written. Errors: invalidArgument (level
// or jobs out of range, a path holding a NUL byte), cannotRead, cannotOpen, cannotWrite,
// unstorableName (a '\' in a name), folderNameTooLong, nameCollision (two names with one hash),
// tooLarge (past 4 GiB - 1), stopped.
[[nodiscard]] OXTREL_API Result<PackSummary> packDirectory(const std::string& directory,
                                                           const std::string& archivePath,
                                                           const PackSettings& settings,
                                                           const PackNoteCallback& onNote = {});

// One file of an archive packed from memory or from a file.
struct PackInput {
  std::string path{};              // below `data`, components split at '/' or '\'
  std::span<const uint8_t> bytes{}; // the contents, when sourceFile is empty; must outlive the call
  std::string sourceFile{};        // else the file whose contents are packed, read at pack time
};

// Packs inputs without staging them on disk. Errors as packDirectory, and invalidArgument for a
// path that is empty, absolute, or has an empty, "." or ".." component, or one given twice, or
// one that is also a folder of another input ("a" and "a/b", as no tree can hold).
[[nodiscard]] OXTREL_API Result<PackSummary> packEntries(std::span<const PackInput> inputs,
                                                         const std::string& archivePath,
                                                         const PackSettings& settings,
                                                         const PackNoteCallback& onNote = {});

}  // namespace oxtrel
