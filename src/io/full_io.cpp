#include "io/full_io.h"

#include <unistd.h>

#include <cerrno>

namespace oxtrel {

namespace {

// Calls transfer(done) until length bytes are moved, it returns 0, or it fails with other than
// EINTR. Returns the bytes moved, or -1 with errno set.
template <class Transfer>
ssize_t transferFully(size_t length, Transfer transfer) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = transfer(done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

}  // namespace

Result<size_t> readFully(int fd, std::span<uint8_t> dst, std::optional<uint64_t> offset) {
  ssize_t n = transferFully(dst.size(), [&](size_t done) {
    std::span<uint8_t> rest = dst.subspan(done);
    return offset ? pread(fd, rest.data(), rest.size(), off_t(*offset + done)) : read(fd, rest.data(), rest.size());
  });
  if (n < 0) return Error{ErrorKind::cannotRead, errno, {}};
  return size_t(n);
}

Status writeFully(int fd, std::span<const uint8_t> bytes, std::optional<uint64_t> offset) {
  ssize_t n = transferFully(bytes.size(), [&](size_t done) {
    std::span<const uint8_t> rest = bytes.subspan(done);
    return offset ? pwrite(fd, rest.data(), rest.size(), off_t(*offset + done))
                  : write(fd, rest.data(), rest.size());
  });
  if (n < 0) return Error{ErrorKind::cannotWrite, errno, {}};
  // A write that moves nothing without an error would loop forever; report it as the device's.
  if (size_t(n) < bytes.size()) return Error{ErrorKind::cannotWrite, EIO, {}};
  return {};
}

}  // namespace oxtrel
