#include "cli/stop_signals.h"

#include <signal.h>

namespace oxtrel {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Lock-free, so the handler may store to it.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

void recordSignal(int signal) { caught.store(signal, std::memory_order_relaxed); }

void setAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

}  // namespace

void catchStopSignals() { setAction(recordSignal); }

void releaseStopSignals() {
  setAction(SIG_DFL);
  caught.store(0, std::memory_order_relaxed);
}

int stopSignal() { return caught.load(std::memory_order_relaxed); }

const std::atomic<int>& stopSignalFlag() { return caught; }

}  // namespace oxtrel
