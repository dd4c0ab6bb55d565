#pragma once

// The thread count a user gives with -j/--jobs.

namespace oxtrel {

// A decimal count from 1 to kMaxJobs and nothing else: no sign, spaces or suffix. False leaves
// jobs unchanged.
bool parseJobOption(const char* text, unsigned& jobs);

}  // namespace oxtrel
