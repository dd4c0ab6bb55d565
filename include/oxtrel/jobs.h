#pragma once

// Thread counts. Every call that takes jobs takes 1 to kMaxJobs threads, or 0 for one per CPU this
// process may run on (at most kMaxJobs); more is refused with invalidArgument.

namespace oxtrel {

// More threads than this only add memory and contention for the archives this library handles.
inline constexpr unsigned kMaxJobs = 64;

}  // namespace oxtrel
