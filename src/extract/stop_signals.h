#pragma once

// SIGINT, SIGTERM and SIGHUP end a run cleanly rather than at once: the handler only records the
// signal, the file being written is finished (or removed) as usual, and the walk stops before the
// next entry. The handler is installed with SA_RESTART, so no system call fails for it.

namespace oxtrel {

// Installs the handler for the three signals.
void catchStopSignals();

// Restores their default actions and forgets a signal caught.
void releaseStopSignals();

// The signal caught since catchStopSignals, or 0.
int stopSignal();

}  // namespace oxtrel
