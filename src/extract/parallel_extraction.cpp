#include "extract/parallel_extraction.h"

#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "extract/write_order.h"
#include "parallel/job_batches.h"
#include "parallel/ordered_jobs.h"

namespace oxtrel {

namespace {

// A thread takes consecutive records together, so that small files' payloads are still read
// ahead; an unmatched record has nothing to read.
constexpr BatchLimits kRecordBatch{.items = 32, .bytes = 256 * 1024};

// Finished batches whose events wait for an earlier one: the events are small, and a slow batch
// (a large file) should not leave the other threads idle for long.
constexpr size_t kWindowPerJob = 8;

// What other threads learn about a record they wait for.
enum RecordState : uint8_t { pending, finished, abandoned };

// A batch's events, kept until every batch before it is done. Paths point into the walker's
// own buffer while it runs, so they are copied into text; other views point into the catalogue.
struct BatchEvents {
  std::vector<ExtractionEvent> events;
  std::vector<size_t> pathStarts;  // of each event's path in text
  std::string text;
  ExtractionSummary summary;
};

void releaseEvents(const BatchEvents& batch, const EventSink& sink) {
  for (size_t i = 0; i < batch.events.size(); ++i) {
    ExtractionEvent event = batch.events[i];
    event.path = std::string_view(batch.text).substr(batch.pathStarts[i], event.path.size());
    emit(sink, event);
  }
}

struct Worker {
  Worker(const PositionalFile& archive, platform::NativeHandle parent, bool compressed, const WalkSettings& settings)
      : tree(makeOutputTree(parent)), walker(makeRecordWalker(archive, tree, compressed, settings, sink)) {}
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  static void record(void* context, const ExtractionEvent& event) {
    BatchEvents& batch = static_cast<Worker*>(context)->batch;
    batch.events.push_back(event);
    batch.pathStarts.push_back(batch.text.size());
    batch.text.append(event.path);
  }

  OutputTree tree;
  BatchEvents batch;  // the batch being walked
  EventSink sink{record, this};
  RecordWalkerPtr walker;
};

// The selected records, by their place in the catalogue; with every record selected, the
// places themselves, held as nothing.
struct SelectedRecords {
  std::vector<uint32_t> places;
  size_t count = 0;
  size_t operator[](size_t r) const { return places.empty() ? r : places[r]; }
};

SelectedRecords selectedRecords(const Catalogue& catalogue, const EntrySelection& selection) {
  SelectedRecords records;
  if (selection.chosen.empty()) {
    records.count = catalogue.files.size();
    return records;
  }
  for (size_t r = 0; r < catalogue.files.size(); ++r)
    if (isSelected(selection, r)) records.places.push_back(uint32_t(r));
  records.count = records.places.size();
  return records;
}

void add(ExtractionSummary& total, const ExtractionSummary& part) {
  total.written += part.written;
  total.kept += part.kept;
  total.problems += part.problems;
}

ExtractionSummary since(const ExtractionSummary& now, const ExtractionSummary& before) {
  ExtractionSummary delta;
  delta.written = now.written - before.written;
  delta.kept = now.kept - before.kept;
  delta.problems = now.problems - before.problems;
  return delta;
}

}  // namespace

ExtractionSummary extractInParallel(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                                    platform::NativeHandle parent, const EntrySelection& selection, const WalkSettings& settings,
                                    const EventSink& sink, unsigned jobs) {
  bool compressed = isCompressed(catalogue.header);
  const SelectedRecords records = selectedRecords(catalogue, selection);
  auto folderOf = [&](size_t r) { return folderOfRecord(catalogue, records[r]); };
  auto pathOf = [&](size_t r) {
    std::optional<std::string_view> name = lookup(index, catalogue.files[records[r]].hash);
    return EntryPathParts{name.has_value(), folderName(catalogue, folderOf(r)), name.value_or("")};
  };
  // A batch's events hold its entries' paths until they are released: the paths count as bytes
  // too, so a batch of long names stays as small as one of large payloads.
  std::vector<size_t> batches = batchBoundaries(records.count, kRecordBatch, [&](size_t r) -> uint64_t {
    EntryPathParts path = pathOf(r);
    return path.present ? catalogue.files[records[r]].size + 2 * (path.folder.size() + path.name.size()) : 0;
  });
  WriteOrder order = planWriteOrder(records.count, pathOf);
  std::vector<uint8_t> waitedFor(order.waits.empty() ? 0 : records.count);
  for (uint32_t w : order.waits) waitedFor[w] = 1;
  auto states = std::make_unique<std::atomic<uint8_t>[]>(records.count);

  auto settle = [&](size_t first, size_t end, RecordState state) {
    for (size_t r = first; r < end; ++r) {
      states[r].store(state, std::memory_order_release);
      if (!waitedFor.empty() && waitedFor[r]) states[r].notify_all();
    }
  };
  auto mayStart = [&](size_t record) {
    for (uint32_t w : waitsOf(order, record)) {
      states[w].wait(pending, std::memory_order_acquire);
      if (states[w].load(std::memory_order_acquire) == abandoned) return false;
    }
    return true;
  };

  std::mutex failuresMutex;
  std::map<size_t, BatchEvents> failures;  // by batch: the events reported before a record failed

  // A stop ends the run after the batches already started, as it ends a sequential walk
  // after the entry being written: every file written has its lines, and no later entry is begun.
  // Batches decide whether to begin strictly in table order (a worker handed a batch waits for the
  // decision on the one before, which is only a check), so the batches begun are always a prefix
  // even when a worker is preempted between being handed its batch and looking at the signal.
  std::atomic<bool> stopping{false};
  std::atomic<int> stoppedBy{0};   // the stop value that kept a batch from beginning
  std::atomic<size_t> decided{0};  // batches [0, decided) have decided

  auto begins = [&](size_t batch) {
    for (size_t seen = decided.load(std::memory_order_acquire); seen != batch;
         seen = decided.load(std::memory_order_acquire))
      decided.wait(seen, std::memory_order_acquire);
    bool stop = stopping.load(std::memory_order_relaxed);
    if (int value = stop ? 0 : stopValue(settings); value != 0) {
      stoppedBy.store(value, std::memory_order_relaxed);
      stopping.store(true, std::memory_order_relaxed);
      stop = true;
    }
    decided.store(batch + 1, std::memory_order_release);
    decided.notify_all();
    return !stop;
  };

  auto work = [&](std::unique_ptr<Worker>& worker, size_t batch) -> BatchEvents {
    if (!begins(batch)) {
      settle(batches[batch], batches[batch + 1], abandoned);
      return {};
    }
    ExtractionSummary before = walkSummary(*worker->walker);
    worker->batch = {};
    for (size_t r = batches[batch]; r < batches[batch + 1]; ++r) {
      // A record waited for failed: the run ends there, before this batch is released.
      if (!mayStart(r)) {
        settle(r, batches[batch + 1], abandoned);
        return {};
      }
      try {
        walkRecord(*worker->walker, catalogue, folderOf(r), records[r], index);
      } catch (...) {
        settle(r, batches[batch + 1], abandoned);
        std::lock_guard lock(failuresMutex);
        failures.emplace(batch, std::move(worker->batch));
        throw;
      }
      settle(r, r + 1, finished);
    }
    worker->batch.summary = since(walkSummary(*worker->walker), before);
    return std::move(worker->batch);
  };

  ExtractionSummary summary;
  size_t released = 0;
  OrderedJobsOptions options{jobs, kWindowPerJob * jobs, &stopping};
  try {
    runOrderedJobs(
        batches.size() - 1, options,
        [&] { return std::make_unique<Worker>(archive, parent, compressed, settings); }, work,
        [&](size_t, BatchEvents&& batch) {
          releaseEvents(batch, sink);
          add(summary, batch.summary);
          ++released;
          return true;
        });
  } catch (...) {
    // The failure is in the first batch not released; a sequential run has reported its events
    // up to the failing record.
    std::lock_guard lock(failuresMutex);
    auto failed = failures.find(released);
    if (failed != failures.end()) releaseEvents(failed->second, sink);
    throw;
  }
  // A flag raised after the last batch began stopped nothing, as in the sequential walk.
  summary.stoppedBy = stoppedBy.load(std::memory_order_relaxed);
  return summary;
}

}  // namespace oxtrel
