#pragma once

// A regular file read by position: an owned read-only descriptor and the size it had when
// opened. Every read names its absolute 64-bit offset, so offsets up to 4 GiB - 1 work
// and no shared file position exists. Used for the archive and for the packer's source files.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/result.h"
#include "platform/platform.h"

namespace oxtrel {

struct PositionalFile {
  platform::File file;
  uint64_t size = 0;
};

// Opens path for reading. Anything that is not a readable regular file (a directory, a device,
// a missing path) is cannotOpen naming path, with its errno (EISDIR / EINVAL for the wrong
// kind of file). noFollow refuses a symbolic link at path.
Result<PositionalFile> openPositionalFile(const char* path, bool noFollow = false);

// Takes ownership of an already open file (a memory file, say); cannotOpen unless it is a
// regular file, and the file is then closed.
Result<PositionalFile> positionalFileFrom(platform::File file);

// True when [offset, offset + length) lies wholly inside the file.
inline bool fileHolds(const PositionalFile& file, uint64_t offset, uint64_t length) {
  return offset <= file.size && length <= file.size - offset;
}

// Reads exactly dst.size() bytes at offset. cannotRead, with errno, or with 0 when the file ends
// first; where is left to the caller.
Status readAt(const PositionalFile& file, uint64_t offset, std::span<uint8_t> dst);

}  // namespace oxtrel
