#pragma once

// Standard output as the tools use it: a failed write is an error with its reason, never lost.

namespace oxtrel {

// Puts /dev/null, opened read-only, on each of descriptors 0, 1 and 2 that is closed: files
// opened later can then never take their place (and receive console lines), and writes to a
// closed standard output fail instead of vanishing.
void guardStandardDescriptors();

// Flushes and closes stdout. When any write to it failed, or the flush or the close fails,
// prints "<program>: cannot write standard output: <reason>" on stderr and returns false.
bool closeStandardOutput(const char* program);

}  // namespace oxtrel
