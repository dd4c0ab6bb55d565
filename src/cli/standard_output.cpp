#include "cli/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace oxtrel {

void guardStandardDescriptors() { platform::guardStandardHandles(); }

bool closeStandardOutput(const char* program) {
  // A write that failed earlier leaves the stream's error flag; its errno may be gone by now, so
  // the flush's own failure is preferred, and a descriptor that cannot be written says why.
  errno = 0;
  bool earlier = std::ferror(stdout) != 0;
  int error = std::fflush(stdout) != 0 ? errno : 0;
  if (error == 0 && earlier) {
    error = platform::checkStandardOutput();
    if (error == 0) error = EIO;
  }
  if (std::fclose(stdout) != 0 && error == 0) error = errno;
  if (error == 0 && !earlier) return true;
  std::fprintf(stderr, "%s: cannot write standard output: %s\n", program, std::strerror(error));
  return false;
}

}  // namespace oxtrel
