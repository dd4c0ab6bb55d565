#pragma once

// The console as the programs use it: the standard handles, and the requests to stop that a
// user sends (Ctrl-C, a terminal closing, a termination request). No system header is included.

#include "platform/platform.h"

namespace oxtrel::platform {

enum class StandardStream { input, output, error };

// Whether the stream is a terminal (a person may be watching it).
bool isTerminal(StandardStream stream);

// Puts the null device, opened for reading, on each standard handle that is closed: files
// opened later can then never take their place (and receive console lines), and writes to a
// closed standard output fail instead of vanishing.
void guardStandardHandles();

// 0 when standard output can be written (a write of nothing), else why not.
SystemError checkStandardOutput();

// Calls handler with the request's number (the signal number on POSIX, at least 1 and below
// 128, so that 128 + n is the exit status) on the interrupt, terminate and hang-up requests
// instead of ending the process. The handler may run on any thread, or inside a signal handler:
// it may only store to a lock-free atomic. Interrupted system calls are restarted.
void watchStopRequests(void (*handler)(int));

// Gives the three requests back their default action.
void restoreStopRequests();

}  // namespace oxtrel::platform
