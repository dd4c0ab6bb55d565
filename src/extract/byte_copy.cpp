#include "extract/byte_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "io/full_io.h"

namespace oxtrel {

namespace {

// Copies through this process in blocks: for file pairs the kernel will not copy between.
Status copyThroughBuffer(int fd, FileRange source) {
  std::vector<uint8_t> block(size_t(std::min<uint64_t>(source.length, 1 << 20)));
  while (source.length > 0) {
    std::span<uint8_t> chunk(block.data(), size_t(std::min<uint64_t>(source.length, block.size())));
    Result<size_t> got = readFully(source.fd, chunk, source.offset);
    if (!got) return Error{ErrorKind::cannotWrite, got.error().systemError, {}};
    if (*got < chunk.size()) return Error{ErrorKind::cannotWrite, EIO, {}};
    if (Status written = writeFully(fd, chunk, std::nullopt); !written) return written;
    source.offset += chunk.size();
    source.length -= chunk.size();
  }
  return {};
}

Status copyRange(int fd, FileRange source, bool& copyInKernel) {
  while (copyInKernel && source.length > 0) {
    loff_t from = loff_t(source.offset);
    ssize_t n = copy_file_range(source.fd, &from, fd, nullptr, size_t(std::min<uint64_t>(source.length, 1u << 30)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      copyInKernel = false;  // this pair of file systems, or this kernel: not possible
      break;
    }
    if (n <= 0) return Error{ErrorKind::cannotWrite, n == 0 ? EIO : errno, {}};
    source.offset += uint64_t(n);
    source.length -= uint64_t(n);
  }
  return copyThroughBuffer(fd, source);
}

}  // namespace

Status fillFile(int fd, const Content& content, bool& copyInKernel) {
  if (content.range) return copyRange(fd, *content.range, copyInKernel);
  return writeFully(fd, content.bytes, std::nullopt);
}

}  // namespace oxtrel
