#pragma once

// How many threads a run uses: the default, and the count a user gives on the command line.

#include <string_view>

#include <oxtrel/jobs.h>

namespace oxtrel {

// The library's limit, under the name the extractor knows it by.
inline constexpr unsigned kMaxJobCount = kMaxJobs;

// The CPUs this process may run on (its affinity mask, so taskset and cgroup cpusets count),
// at least 1 and at most kMaxJobCount.
unsigned defaultJobCount();

// A decimal count from 1 to kMaxJobCount and nothing else; false leaves jobs unchanged.
bool parseJobCount(std::string_view text, unsigned& jobs);

}  // namespace oxtrel
