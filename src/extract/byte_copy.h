#pragma once

// Fills a new file with an entry's bytes: from memory, or from a range of another file.

#include <cstdint>
#include <span>

#include "common/result.h"

namespace oxtrel {

// length bytes of the open file fd from offset.
struct FileRange {
  int fd = -1;
  uint64_t offset = 0;
  uint64_t length = 0;
};

// The bytes of a file being written: in memory, or a range of another file.
struct Content {
  std::span<const uint8_t> bytes;
  const FileRange* range = nullptr;
};

// Writes content at fd's position. A range is copied inside the kernel (copy_file_range) while
// copyInKernel holds, which is cleared once the kernel refuses these files, and otherwise read
// and written in blocks. Failures are cannotWrite with errno; a source that ends early is EIO.
Status fillFile(int fd, const Content& content, bool& copyInKernel);

}  // namespace oxtrel
