#include "parallel/ordered_jobs.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace oxtrel {

size_t effectiveWindow(const OrderedJobsOptions& options) {
  size_t jobs = std::max(options.jobs, 1u);
  if (options.window == 0) return 2 * jobs;
  return std::max(options.window, jobs);
}

namespace {

// Everything the workers and the calling thread share; every field is guarded by mutex.
struct Schedule {
  Schedule(size_t count_, size_t window_, const std::atomic<bool>* cancel_)
      : count(count_), window(window_), cancel(cancel_), finished(window_), errors(window_) {}

  bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
  // No item starts after this is true; it stays true.
  bool closed() const { return stopping || nextItem == count || cancelled(); }

  const size_t count;
  const size_t window;
  const std::atomic<bool>* const cancel;
  std::mutex mutex;
  std::condition_variable workerWake;  // a slot came free, or the run is closing
  std::condition_variable callerWake;  // an item finished, or a worker left
  size_t nextItem = 0;                 // the next item to start
  size_t released = 0;                 // items released so far: the next one to release
  bool stopping = false;
  std::vector<char> finished;  // per slot: its item's work is over
  std::vector<std::exception_ptr> errors;
};

void workLoop(Schedule& s, unsigned worker, const std::function<void(unsigned, size_t)>& process) {
  std::unique_lock lock(s.mutex);
  for (;;) {
    s.workerWake.wait(lock, [&] { return s.closed() || s.nextItem < s.released + s.window; });
    if (s.closed()) break;
    size_t item = s.nextItem++;
    lock.unlock();
    std::exception_ptr error;
    try {
      process(worker, item);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    s.errors[item % s.window] = error;
    s.finished[item % s.window] = 1;
    if (error) {
      // Later items would only be thrown away.
      s.stopping = true;
      s.workerWake.notify_all();
    }
    s.callerWake.notify_one();
  }
  s.callerWake.notify_one();
}

}  // namespace

OrderedJobsOutcome runOrderedSlots(size_t count, unsigned workers, size_t window,
                                   const std::atomic<bool>* cancel,
                                   const std::function<void(unsigned, size_t)>& process,
                                   const std::function<bool(size_t)>& deliver) {
  Schedule s(count, window, cancel);
  std::vector<std::jthread> threads;
  auto shutDown = [&] {
    {
      std::lock_guard lock(s.mutex);
      s.stopping = true;
    }
    s.workerWake.notify_all();
    threads.clear();  // joins
  };

  OrderedJobsOutcome outcome;
  try {
    threads.reserve(workers);
    for (unsigned w = 0; w < workers; ++w) threads.emplace_back(workLoop, std::ref(s), w, std::cref(process));

    std::unique_lock lock(s.mutex);
    while (s.released < count) {
      size_t slot = s.released % window;
      s.callerWake.wait(lock, [&] { return s.finished[slot] || (s.nextItem == s.released && s.closed()); });
      if (!s.finished[slot]) {
        outcome.end = OrderedJobsEnd::cancelled;
        break;
      }
      // Every item before this one has been released; the handler below stops the rest.
      if (s.errors[slot]) std::rethrow_exception(s.errors[slot]);
      lock.unlock();
      bool goOn = deliver(s.released);
      lock.lock();
      s.finished[slot] = 0;
      ++s.released;
      ++outcome.released;
      s.workerWake.notify_one();
      if (!goOn) {
        outcome.end = OrderedJobsEnd::stopped;
        break;
      }
    }
  } catch (...) {
    shutDown();
    throw;
  }
  shutDown();
  return outcome;
}

}  // namespace oxtrel
