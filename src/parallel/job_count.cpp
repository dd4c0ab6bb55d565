#include "parallel/job_count.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <thread>

namespace oxtrel {

unsigned defaultJobCount() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  // The mask cannot be read on machines with more CPUs than cpu_set_t holds: those have plenty.
  unsigned available = sched_getaffinity(0, sizeof cpus, &cpus) == 0
                           ? unsigned(CPU_COUNT(&cpus))
                           : std::thread::hardware_concurrency();
  return std::clamp(available, 1u, kMaxJobCount);
}

bool parseJobCount(std::string_view text, unsigned& jobs) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < 1 || value > kMaxJobCount) return false;
  jobs = value;
  return true;
}

}  // namespace oxtrel
