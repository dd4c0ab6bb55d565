#pragma once

// How many threads a run uses by default.

#include <oxtrel/jobs.h>

namespace oxtrel {

// The CPUs this process may run on (its affinity mask, so taskset and cgroup cpusets count),
// at least 1 and at most kMaxJobs.
unsigned defaultJobCount();

}  // namespace oxtrel
