#include "parallel/job_count.h"

#include <algorithm>

#include "platform/platform.h"

namespace oxtrel {

unsigned defaultJobCount() { return std::clamp(platform::availableCpus(), 1u, kMaxJobs); }

}  // namespace oxtrel
