#include "cli/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace oxtrel {

void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);  // the lowest free descriptor is fd
  }
}

bool closeStandardOutput(const char* program) {
  // A write that failed earlier leaves the stream's error flag; its errno may be gone by now, so
  // the flush's own failure is preferred, and a descriptor that cannot be written says why.
  errno = 0;
  bool earlier = std::ferror(stdout) != 0;
  int error = std::fflush(stdout) != 0 ? errno : 0;
  if (error == 0 && earlier) error = write(STDOUT_FILENO, "", 0) < 0 ? errno : EIO;
  if (std::fclose(stdout) != 0 && error == 0) error = errno;
  if (error == 0 && !earlier) return true;
  std::fprintf(stderr, "%s: cannot write standard output: %s\n", program, std::strerror(error));
  return false;
}

}  // namespace oxtrel
