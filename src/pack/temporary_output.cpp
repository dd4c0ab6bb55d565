#include "pack/temporary_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace oxtrel {

namespace {

PackFailure cannotWrite(const TemporaryOutput& output, int error) {
  return {PackFailureKind::cannotWrite,
          "cannot write '" + output.finalPath + "': " + std::strerror(error)};
}

void discard(TemporaryOutput& output) {
  if (output.fd < 0) return;
  close(output.fd);
  unlink(output.temporaryPath.c_str());
  output.fd = -1;
}

}  // namespace

TemporaryOutput::~TemporaryOutput() { discard(*this); }

PackFailure createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output) {
  output.finalPath = finalPath;
  size_t slash = finalPath.rfind('/');
  output.temporaryPath = (slash == std::string::npos ? "" : finalPath.substr(0, slash + 1)) +
                         ".oxtrel-pack-XXXXXX";
  output.fd = mkostemp(output.temporaryPath.data(), O_CLOEXEC);
  if (output.fd < 0) return cannotWrite(output, errno);
  return {};
}

PackFailure writeOutputAt(TemporaryOutput& output, uint64_t offset, const uint8_t* bytes,
                          size_t length) {
  while (length > 0) {
    ssize_t n = pwrite(output.fd, bytes, length, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return cannotWrite(output, errno);
    bytes += n;
    offset += uint64_t(n);
    length -= size_t(n);
  }
  return {};
}

PackFailure commitOutput(TemporaryOutput& output) {
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(output.fd, 0666 & ~mask) != 0 || fsync(output.fd) != 0) {
    PackFailure failure = cannotWrite(output, errno);
    discard(output);
    return failure;
  }
  int closed = close(output.fd);
  output.fd = -1;
  if (closed != 0 || rename(output.temporaryPath.c_str(), output.finalPath.c_str()) != 0) {
    PackFailure failure = cannotWrite(output, errno);
    unlink(output.temporaryPath.c_str());
    return failure;
  }
  return {};
}

}  // namespace oxtrel
