#include "pack/temporary_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "io/full_io.h"

namespace oxtrel {

namespace {

Error cannotWrite(const TemporaryOutput& output, int error) {
  return {ErrorKind::cannotWrite, error, "'" + output.finalPath + "'"};
}

void discard(TemporaryOutput& output) {
  if (!output.fd.valid()) return;
  output.fd.reset();
  unlink(output.temporaryPath.c_str());
}

}  // namespace

TemporaryOutput::~TemporaryOutput() { discard(*this); }

Status createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output) {
  output.finalPath = finalPath;
  size_t slash = finalPath.rfind('/');
  output.temporaryPath = (slash == std::string::npos ? "" : finalPath.substr(0, slash + 1)) +
                         ".oxtrel-pack-XXXXXX";
  output.fd.reset(mkostemp(output.temporaryPath.data(), O_CLOEXEC));
  if (!output.fd.valid()) return cannotWrite(output, errno);
  return {};
}

Status writeOutputAt(TemporaryOutput& output, uint64_t offset, const uint8_t* bytes, size_t length) {
  Status written = writeFully(output.fd.get(), {bytes, length}, offset);
  if (!written) return cannotWrite(output, written.error().systemError);
  return {};
}

Status commitOutput(TemporaryOutput& output) {
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(output.fd.get(), 0666 & ~mask) != 0 || fsync(output.fd.get()) != 0) {
    Error failure = cannotWrite(output, errno);
    discard(output);
    return failure;
  }
  int closed = output.fd.close();
  if (closed == 0 && rename(output.temporaryPath.c_str(), output.finalPath.c_str()) != 0) closed = errno;
  if (closed != 0) {
    unlink(output.temporaryPath.c_str());
    return cannotWrite(output, closed);
  }
  return {};
}

}  // namespace oxtrel
