#pragma once

// SIGINT, SIGTERM and SIGHUP end a run cleanly rather than at once: the handler only records the
// signal in a flag that the extraction watches (ExtractSettings::stop), the file being written is
// finished (or removed) as usual, and no entry begins after it. The handler is installed with
// SA_RESTART, so no system call fails for it.

#include <atomic>

namespace oxtrel {

// Installs the handler for the three signals.
void catchStopSignals();

// Restores their default actions and forgets a signal caught.
void releaseStopSignals();

// The signal caught since catchStopSignals, or 0.
int stopSignal();

// The flag the handler stores the signal in, for ExtractSettings::stop.
const std::atomic<int>& stopSignalFlag();

}  // namespace oxtrel
