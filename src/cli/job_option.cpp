#include "cli/job_option.h"

#include <oxtrel/jobs.h>

#include <charconv>
#include <cstring>

namespace oxtrel {

bool parseJobOption(const char* text, unsigned& jobs) {
  unsigned value = 0;
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end || value < 1 || value > kMaxJobs) return false;
  jobs = value;
  return true;
}

}  // namespace oxtrel
