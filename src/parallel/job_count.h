#pragma once

// How many threads a run uses: the default, and the count a user gives on the command line.

#include <string_view>

namespace oxtrel {

// More threads than this only add memory and contention for the archives this program handles.
inline constexpr unsigned kMaxJobCount = 64;

// The CPUs this process may run on (its affinity mask, so taskset and cgroup cpusets count),
// at least 1 and at most kMaxJobCount.
unsigned defaultJobCount();

// A decimal count from 1 to kMaxJobCount and nothing else; false leaves jobs unchanged.
bool parseJobCount(std::string_view text, unsigned& jobs);

}  // namespace oxtrel
