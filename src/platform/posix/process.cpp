// The process on POSIX.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/fast_paths.h"

namespace oxtrel::platform {

unsigned availableCpus() {
  unsigned cpus = fast::affinityCpus();
  if (cpus == 0) cpus = std::thread::hardware_concurrency();
  return std::max(cpus, 1u);
}

uint64_t processId() { return uint64_t(getpid()); }

bool processGone(uint64_t id) {
  if (id == 0 || id > uint64_t(INT32_MAX)) return false;
  return kill(pid_t(id), 0) != 0 && errno == ESRCH;
}

}  // namespace oxtrel::platform
