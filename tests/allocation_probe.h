#pragma once

// Records the largest single allocation the test binary makes while a probe is armed, so tests
// can prove that no buffer is sized from an untrusted count before it is checked, and the most
// bytes held at once, so tests can prove that memory follows the catalogue's size rather than
// its record count or path lengths. Counts what operator new hands out, in every thread.

#include <cstddef>

namespace oxtrel::testing {

void armAllocationProbe();
// The largest request since armAllocationProbe().
size_t largestAllocationSinceArmed();
// The most bytes held at once since armAllocationProbe(), beyond what was held when it was armed.
size_t peakBytesSinceArmed();

}  // namespace oxtrel::testing
