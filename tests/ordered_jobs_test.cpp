// The ordered engine under random delays: results in index order, the window respected, each
// worker on its own context, and every way of ending a run early leaving a clean prefix.

#include "parallel/ordered_jobs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "parallel/job_batches.h"
#include "parallel/job_count.h"

namespace oxtrel {
namespace {

void randomDelay(size_t item) {
  std::minstd_rand random(uint32_t(item) + 1);
  std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
}

struct Probe {
  std::atomic<int> active{0};         // items inside work right now
  std::atomic<size_t> inFlight{0};    // started and not yet released
  std::atomic<size_t> peakInFlight{0};
  std::atomic<int> contexts{0};
  std::mutex mutex;
  std::multiset<size_t> worked;       // every item work was called for
  std::set<std::thread::id> workThreads;

  void started(size_t item) {
    ++active;
    size_t now = ++inFlight;
    size_t peak = peakInFlight.load();
    while (now > peak && !peakInFlight.compare_exchange_weak(peak, now)) {}
    std::lock_guard lock(mutex);
    worked.insert(item);
    workThreads.insert(std::this_thread::get_id());
  }
};

struct Context {
  int id;
  std::thread::id owner{};  // the one thread that may use it
};

TEST(OrderedJobs, ReleasesInIndexOrderWithinTheWindowOnePerWorkerContext) {
  struct Case {
    unsigned jobs;
    size_t window;
    size_t count;
  };
  for (const Case& c : {Case{1, 0, 40}, Case{2, 0, 120}, Case{3, 1, 120}, Case{4, 5, 200},
                        Case{8, 0, 3}, Case{4, 0, 1}, Case{4, 0, 0}, Case{16, 64, 300}}) {
    SCOPED_TRACE(::testing::Message() << "jobs " << c.jobs << " window " << c.window << " count " << c.count);
    OrderedJobsOptions options{.jobs = c.jobs, .window = c.window};
    Probe probe;
    std::vector<size_t> released;
    OrderedJobsOutcome outcome = runOrderedJobs(
        c.count, options, [&] { return Context{probe.contexts++}; },
        [&](Context& context, size_t item) {
          probe.started(item);
          if (context.owner == std::thread::id()) context.owner = std::this_thread::get_id();
          EXPECT_EQ(context.owner, std::this_thread::get_id()) << "a context shared between threads";
          randomDelay(item);
          --probe.active;
          return std::to_string(item * 7);
        },
        [&](size_t item, std::string&& result) {
          EXPECT_EQ(result, std::to_string(item * 7));
          released.push_back(item);
          --probe.inFlight;
          return true;
        });
    EXPECT_EQ(outcome.end, OrderedJobsEnd::completed);
    EXPECT_EQ(outcome.released, c.count);
    std::vector<size_t> expected(c.count);
    for (size_t i = 0; i < c.count; ++i) expected[i] = i;
    EXPECT_EQ(released, expected);
    EXPECT_EQ(probe.worked, std::multiset<size_t>(expected.begin(), expected.end()));
    EXPECT_LE(probe.peakInFlight.load(), effectiveWindow(options));
    bool inline_ = c.jobs == 1 || c.count <= 1;
    EXPECT_EQ(probe.contexts.load(), inline_ ? 1 : int(std::min<size_t>(c.jobs, c.count)));
    if (inline_ && c.count > 0) {
      EXPECT_EQ(probe.workThreads, std::set{std::this_thread::get_id()}) << "one job runs on the caller";
    }
    if (!inline_) {
      EXPECT_EQ(probe.workThreads.count(std::this_thread::get_id()), 0u);
    }
  }
  EXPECT_EQ(effectiveWindow({.jobs = 4}), 8u);
  EXPECT_EQ(effectiveWindow({.jobs = 4, .window = 2}), 4u);
  EXPECT_EQ(effectiveWindow({.jobs = 0}), 2u);
}

TEST(OrderedJobs, EndingEarlyReleasesAnUnbrokenPrefixAndLeavesNoWorkRunning) {
  enum class Stop { workThrowsBadAlloc, releaseReturnsFalse, releaseThrows, cancelFlag };
  constexpr size_t kCount = 100;
  constexpr size_t kAt = 7;
  for (unsigned jobs : {1u, 2u, 4u}) {
    for (Stop stop : {Stop::workThrowsBadAlloc, Stop::releaseReturnsFalse, Stop::releaseThrows, Stop::cancelFlag}) {
      SCOPED_TRACE(::testing::Message() << "jobs " << jobs << " stop " << int(stop));
      OrderedJobsOptions options{.jobs = jobs};
      std::atomic<bool> cancel{false};
      options.cancel = &cancel;
      Probe probe;
      std::vector<size_t> released;
      std::string thrown;
      OrderedJobsOutcome outcome;
      try {
        outcome = runOrderedJobs(
            kCount, options, [] { return 0; },
            [&](int&, size_t item) {
              probe.started(item);
              randomDelay(kCount - item);  // later items tend to finish first
              --probe.active;
              if (stop == Stop::workThrowsBadAlloc && item == kAt) throw std::bad_alloc();
              return item;
            },
            [&](size_t item, size_t&& result) {
              EXPECT_EQ(result, item);
              released.push_back(item);
              if (item == kAt && stop == Stop::releaseThrows) throw std::runtime_error("release");
              if (item == kAt && stop == Stop::cancelFlag) cancel = true;
              return !(item == kAt && stop == Stop::releaseReturnsFalse);
            });
      } catch (const std::bad_alloc&) {
        thrown = "bad_alloc";
      } catch (const std::runtime_error& e) {
        thrown = e.what();
      }
      EXPECT_EQ(probe.active.load(), 0) << "work still running after the run ended";
      for (size_t i = 0; i < released.size(); ++i) ASSERT_EQ(released[i], i);
      size_t window = effectiveWindow(options);
      switch (stop) {
        case Stop::workThrowsBadAlloc:
          EXPECT_EQ(thrown, "bad_alloc");
          EXPECT_EQ(released.size(), kAt);
          break;
        case Stop::releaseReturnsFalse:
          EXPECT_EQ(thrown, "");
          EXPECT_EQ(outcome.end, OrderedJobsEnd::stopped);
          EXPECT_EQ(outcome.released, kAt + 1);
          EXPECT_EQ(released.size(), kAt + 1);
          break;
        case Stop::releaseThrows:
          EXPECT_EQ(thrown, "release");
          EXPECT_EQ(released.size(), kAt + 1);
          break;
        case Stop::cancelFlag:
          // Items already started when the flag was seen are finished and released.
          EXPECT_EQ(thrown, "");
          EXPECT_EQ(outcome.end, OrderedJobsEnd::cancelled);
          EXPECT_EQ(outcome.released, released.size());
          EXPECT_GE(released.size(), kAt + 1);
          EXPECT_LE(released.size(), jobs == 1 ? kAt + 1 : kAt + window);
          EXPECT_EQ(probe.worked.size(), released.size());
          break;
      }
    }
  }
}

TEST(JobCount, DefaultIsWithinBounds) {
  unsigned jobs = defaultJobCount();
  EXPECT_GE(jobs, 1u);
  EXPECT_LE(jobs, kMaxJobs);
  EXPECT_LE(jobs, std::max(1u, std::thread::hardware_concurrency()));
}

TEST(JobBatches, BatchesEndAtTheItemCountOrOnceTheirBytesReachTheLimit) {
  struct Case {
    const char* what;
    std::vector<uint64_t> sizes;
    BatchLimits limits;
    std::vector<size_t> starts;
  };
  for (const Case& c : std::vector<Case>{
           {"no items", {}, {3, 100}, {0}},
           {"count limit, short last batch", {1, 1, 1, 1, 1, 1, 1}, {3, 100}, {0, 3, 6, 7}},
           {"count limit, even split", {1, 1, 1, 1, 1, 1}, {3, 100}, {0, 3, 6}},
           {"bytes reached exactly", {40, 60, 1, 99, 1}, {10, 100}, {0, 2, 4, 5}},
           {"a huge item alone, then the rest", {500, 1, 2}, {10, 100}, {0, 1, 3}},
           {"a huge item ends the batch it joins", {1, 2, 500, 3}, {10, 100}, {0, 3, 4}},
           {"no byte limit: one item each", {0, 7, 0}, {10, 0}, {0, 1, 2, 3}},
       })
    EXPECT_EQ(batchBoundaries(c.sizes.size(), c.limits, [&](size_t i) { return c.sizes[i]; }), c.starts) << c.what;
}

}  // namespace
}  // namespace oxtrel
