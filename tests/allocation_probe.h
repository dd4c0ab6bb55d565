#pragma once

// Records the largest single allocation the test binary makes while a probe is armed, so tests
// can prove that no buffer is sized from an untrusted count before it is checked.

#include <cstddef>

namespace oxtrel::testing {

void armAllocationProbe();
// The largest request since armAllocationProbe().
size_t largestAllocationSinceArmed();

}  // namespace oxtrel::testing
