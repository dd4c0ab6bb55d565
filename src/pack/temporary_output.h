#pragma once

// The archive is written under a temporary name in the directory it goes to and takes its final
// name only when complete, so a failed run leaves neither a partial archive nor a stray file,
// and an archive already there stays as it was until the new one replaces it.

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
  std::string temporaryPath;  // ".oxtrel-pack-XXXXXX" beside finalPath: never longer than that
  std::string finalPath;
};

// Creates the temporary beside finalPath. Failures are cannotWrite and name finalPath.
Status createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output);

// Writes length bytes at the absolute offset.
Status writeOutputAt(TemporaryOutput& output, uint64_t offset, const uint8_t* bytes,
                          size_t length);

// Flushes the temporary to disk, gives it the usual permissions (0666 less the umask) and renames
// it to finalPath, replacing whatever file stood there. On failure the temporary is removed.
Status commitOutput(TemporaryOutput& output);

}  // namespace oxtrel
