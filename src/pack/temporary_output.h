#pragma once

// The archive is written under a temporary name in the directory it goes to and takes its final
// name only when complete, so a failed run leaves neither a partial archive nor a stray file,
// and an archive already there stays as it was until the new one replaces it.
//
// What stands at the destination is respected: a symbolic link is written through (its target
// is replaced, as cp would), a regular file is replaced by one with its permission bits (and its
// owner and group when run as root), and anything else (a directory, a device, a FIFO) is
// refused before anything is written.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/result.h"
#include "platform/platform.h"

namespace oxtrel {

struct TemporaryOutput {
  TemporaryOutput() = default;
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  // Removes the temporary unless it was committed, also when an exception unwinds.
  ~TemporaryOutput();

  platform::File file;
  std::string temporaryPath;        // ".oxtrel-pack-XXXXXX" beside target.path
  std::string finalPath;            // as the caller named it; messages use it
  platform::ReplaceTarget target;   // finalPath with symbolic links followed: what is replaced
};

// Follows the symbolic links at finalPath (a link to a missing file names that file), refuses
// what is not a regular file there, and creates the temporary beside the target. Failures are
// cannotWrite and name finalPath.
Status createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output);

// Writes length bytes at the absolute offset.
Status writeOutputAt(TemporaryOutput& output, uint64_t offset, const uint8_t* bytes,
                          size_t length);

// Flushes the temporary to disk, gives it the replaced file's permissions (and owner and group
// when run as root) or else the usual ones (0666 less the umask), and renames it over the
// target, unless something other than a regular file has come to stand there meanwhile. On
// failure the temporary is removed.
Status commitOutput(TemporaryOutput& output);

}  // namespace oxtrel
