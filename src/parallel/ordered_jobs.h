#pragma once

// Runs items 0..count-1 on a few owned worker threads, in any order, and hands their results to
// the calling thread strictly in index order, each one as soon as every item before it is done.
// A run with one job is the plain loop: everything happens on the calling thread, in order.
//
// The contract, for a run of count items with options {jobs, window, cancel}:
// - makeContext() is called on the calling thread once per worker before any work starts (once in
//   all when jobs is 1); worker w then uses only its own context, so a compressor, decompressor
//   or buffer inside it needs no locking.
// - work(context, item) runs on a worker thread and returns the item's Result; items are started
//   in index order, at most `window` items are started and not yet released at any time (so at
//   most `window` Results exist at once), and each item is worked on exactly once.
// - release(item, Result&&) runs on the calling thread in index order 0, 1, 2... and returns true
//   to go on or false to stop the run: no later item is then released.
// - *cancel (when given) set to true, from any thread or a signal handler, stops new items from
//   starting; every item already started is finished and released in order, then the run ends.
// - An exception thrown by work (std::bad_alloc, say) is thrown again on the calling thread once
//   every item before the failing one has been released; nothing after it is released.
//   An exception thrown by makeContext or release leaves the run the same way.
// - In every case the worker threads are stopped and joined before runOrderedJobs returns or
//   throws; no item is still being worked on afterwards.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace oxtrel {

struct OrderedJobsOptions {
  unsigned jobs = 1;                         // worker threads; 0 counts as 1
  size_t window = 0;                         // items in flight; 0 means 2 x jobs, less than jobs means jobs
  const std::atomic<bool>* cancel = nullptr;  // polled between items
};

enum class OrderedJobsEnd {
  completed,  // every item was released
  stopped,    // release returned false
  cancelled,  // *cancel was seen before every item had started
};

struct OrderedJobsOutcome {
  OrderedJobsEnd end = OrderedJobsEnd::completed;
  size_t released = 0;  // items handed to release, including one that returned false
};

// The engine without the result type: process(worker, item) runs on worker `worker` and keeps
// its result in the slot item % window; deliver(item) runs on the calling thread in index order.
// Used by runOrderedJobs, which is what callers want.
OrderedJobsOutcome runOrderedSlots(size_t count, unsigned workers, size_t window,
                                   const std::atomic<bool>* cancel,
                                   const std::function<void(unsigned, size_t)>& process,
                                   const std::function<bool(size_t)>& deliver);

// The window a run of these options keeps: at least jobs, never 0.
size_t effectiveWindow(const OrderedJobsOptions& options);

template <typename MakeContext, typename Work, typename Release>
OrderedJobsOutcome runOrderedJobs(size_t count, const OrderedJobsOptions& options,
                                  MakeContext makeContext, Work work, Release release) {
  using Context = decltype(makeContext());
  using Result = decltype(work(std::declval<Context&>(), size_t(0)));
  auto cancelled = [&] { return options.cancel && options.cancel->load(std::memory_order_relaxed); };

  if (options.jobs <= 1 || count <= 1) {
    Context context = makeContext();
    OrderedJobsOutcome outcome;
    for (size_t item = 0; item < count; ++item) {
      if (cancelled()) {
        outcome.end = OrderedJobsEnd::cancelled;
        return outcome;
      }
      Result result = work(context, item);
      ++outcome.released;
      if (!release(item, std::move(result))) {
        outcome.end = OrderedJobsEnd::stopped;
        return outcome;
      }
    }
    return outcome;
  }

  unsigned workers = unsigned(std::min<size_t>(options.jobs, count));
  size_t window = effectiveWindow(options);
  std::vector<Context> contexts;
  contexts.reserve(workers);
  for (unsigned w = 0; w < workers; ++w) contexts.push_back(makeContext());
  std::vector<std::optional<Result>> slots(window);
  return runOrderedSlots(
      count, workers, window, options.cancel,
      [&](unsigned worker, size_t item) { slots[item % window].emplace(work(contexts[worker], item)); },
      [&](size_t item) {
        std::optional<Result>& slot = slots[item % window];
        bool goOn = release(item, std::move(*slot));
        slot.reset();
        return goOn;
      });
}

}  // namespace oxtrel
