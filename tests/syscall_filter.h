#pragma once

// Runs a child as it would run on a kernel without openat2, or in a container that refuses it:
// for use as runProgram's beforeExec.

namespace oxtrel::testing {

// Makes every later openat2 of this process (and of the program it executes) fail with error,
// through a seccomp filter. Ends the process with status 99 when the filter cannot be installed
// or does not take effect, so that a test can never pass without it.
void refuseOpenat2(int error);

}  // namespace oxtrel::testing
