// Replacing a file by path on POSIX: a hidden temporary beside it, renamed over it.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace oxtrel::platform {

SystemError createTemporaryBeside(const std::string& finalPath, std::string& temporaryPath, File& file) {
  size_t slash = finalPath.rfind('/');
  temporaryPath = (slash == std::string::npos ? "" : finalPath.substr(0, slash + 1)) + ".oxtrel-pack-XXXXXX";
  int fd = mkostemp(temporaryPath.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  file.reset(fd);
  return 0;
}

SystemError commitTemporary(File& file, const std::string& temporaryPath, const std::string& finalPath) {
  mode_t mask = umask(0);
  umask(mask);
  SystemError error = 0;
  if (fchmod(int(file.get()), 0666 & ~mask) != 0 || fsync(int(file.get())) != 0) error = errno;
  SystemError closed = file.close();
  if (error == 0) error = closed;
  if (error == 0 && rename(temporaryPath.c_str(), finalPath.c_str()) != 0) error = errno;
  if (error != 0) unlink(temporaryPath.c_str());
  return error;
}

void removeFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace oxtrel::platform
