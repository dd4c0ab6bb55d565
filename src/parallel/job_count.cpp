#include "parallel/job_count.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace oxtrel {

unsigned defaultJobCount() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  // The mask cannot be read on machines with more CPUs than cpu_set_t holds: those have plenty.
  unsigned available = sched_getaffinity(0, sizeof cpus, &cpus) == 0
                           ? unsigned(CPU_COUNT(&cpus))
                           : std::thread::hardware_concurrency();
  return std::clamp(available, 1u, kMaxJobs);
}

}  // namespace oxtrel
