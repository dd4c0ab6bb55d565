#include "cli/stop_signals.h"

#include "platform/console.h"

namespace oxtrel {

namespace {

// Lock-free, so the handler may store to it.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

void recordSignal(int signal) { caught.store(signal, std::memory_order_relaxed); }

}  // namespace

void catchStopSignals() { platform::watchStopRequests(recordSignal); }

void releaseStopSignals() {
  platform::restoreStopRequests();
  caught.store(0, std::memory_order_relaxed);
}

int stopSignal() { return caught.load(std::memory_order_relaxed); }

const std::atomic<int>& stopSignalFlag() { return caught; }

}  // namespace oxtrel
