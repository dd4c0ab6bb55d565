#pragma once

// The caller's stop flag, polled between pieces of work: a pack it ends leaves nothing behind.

#include <atomic>

#include "common/result.h"

namespace oxtrel {

inline bool stopRequested(const std::atomic<int>* stop) {
  return stop && stop->load(std::memory_order_relaxed) != 0;
}

inline Error packStopped() { return {ErrorKind::stopped, 0, "the pack was stopped before it was complete"}; }

}  // namespace oxtrel
