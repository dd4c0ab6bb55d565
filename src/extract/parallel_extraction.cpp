#include "extract/parallel_extraction.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "extract/write_order.h"
#include "parallel/ordered_jobs.h"

namespace oxtrel {

namespace {

// A thread takes consecutive records together, so that handing out work costs little beside
// small files and their payloads are still read ahead; a batch ends after kBatchRecords records
// or once its payloads reach kBatchBytes, so large files spread over the threads one by one.
constexpr size_t kBatchRecords = 32;
constexpr uint64_t kBatchBytes = 256 * 1024;

// Finished batches whose lines wait for an earlier one: the lines are small, and a slow batch
// (a large file) should not leave the other threads idle for long.
constexpr size_t kWindowPerJob = 8;

struct Record {
  const Folder* folder;
  uint32_t index;            // in the folder's file table
  const std::string* name;   // nullptr when the hash matched no name
};

// What other threads learn about a record they wait for.
enum RecordState : uint8_t { pending, finished, abandoned };

struct BatchLines {
  std::string text;
  uint64_t problems = 0;
};

// A worker's lines go to a stream in memory, taken out and emptied after each record.
struct LineStream {
  char* bytes = nullptr;
  size_t size = 0;
  FILE* stream = nullptr;
  LineStream() {
    stream = open_memstream(&bytes, &size);
    if (!stream) throw std::bad_alloc();
  }
  ~LineStream() {
    std::fclose(stream);
    std::free(bytes);
  }
  LineStream(const LineStream&) = delete;
  LineStream& operator=(const LineStream&) = delete;

  std::string take() {
    std::fflush(stream);
    std::string text(bytes, size);
    fseeko(stream, 0, SEEK_SET);
    return text;
  }
};

struct Worker {
  Worker(const ArchiveFile& archive, int parentFd, bool compressed)
      : tree(makeOutputTree(parentFd)), walker{archive, tree, lines.stream, compressed} {}
  ~Worker() { closeOutputTree(tree); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  OutputTree tree;
  LineStream lines;
  RecordWalker walker;
};

std::vector<Record> tableOrder(const Catalogue& catalogue, const NameIndex& index) {
  std::vector<Record> records;
  for (const Folder& folder : catalogue.folders)
    for (size_t j = 0; j < folder.files.size(); ++j)
      records.push_back({&folder, uint32_t(j), lookup(index, folder.files[j].hash)});
  return records;
}

// Where each batch of records starts, and the end of the last.
std::vector<size_t> batchBoundaries(const std::vector<Record>& records) {
  std::vector<size_t> starts{0};
  uint64_t bytes = 0;
  for (size_t r = 0; r < records.size(); ++r) {
    if (records[r].name) bytes += records[r].folder->files[records[r].index].size;
    if (r + 1 - starts.back() == kBatchRecords || bytes >= kBatchBytes) {
      starts.push_back(r + 1);
      bytes = 0;
    }
  }
  if (starts.back() != records.size()) starts.push_back(records.size());
  return starts;
}

// Each record's path below `data` as the walk composes it, empty for an unmatched one.
WriteOrder planRecords(const std::vector<Record>& records) {
  size_t total = 0;
  for (const Record& r : records)
    if (r.name) total += r.folder->name.size() + 1 + r.name->size();
  std::string text;
  text.reserve(total);  // the views below point into it
  std::vector<std::string_view> paths;
  paths.reserve(records.size());
  for (const Record& r : records) {
    size_t start = text.size();
    if (r.name) text.append(r.folder->name).append("\\").append(*r.name);
    paths.emplace_back(text.data() + start, text.size() - start);
  }
  return planWriteOrder(paths);
}

}  // namespace

ExtractionSummary extractAllInParallel(const Catalogue& catalogue, const NameIndex& index, const ArchiveFile& archive,
                                       int parentFd, FILE* console, unsigned jobs,
                                       const std::atomic<bool>* cancel) {
  if (jobs <= 1) {
    OutputTree tree = makeOutputTree(parentFd);
    ExtractionSummary summary = extractAll(catalogue, index, archive, tree, console);
    closeOutputTree(tree);
    return summary;
  }

  bool compressed = isCompressed(catalogue.header);
  std::vector<Record> records = tableOrder(catalogue, index);
  std::vector<size_t> batches = batchBoundaries(records);
  WriteOrder order = planRecords(records);
  std::vector<uint8_t> waitedFor(records.size());
  for (uint32_t w : order.waits) waitedFor[w] = 1;
  auto states = std::make_unique<std::atomic<uint8_t>[]>(records.size());

  auto settle = [&](size_t first, size_t end, RecordState state) {
    for (size_t r = first; r < end; ++r) {
      states[r].store(state, std::memory_order_release);
      if (waitedFor[r]) states[r].notify_all();
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
  std::map<size_t, std::string> failures;  // by batch: the lines printed before its record failed
  auto keepLinesOfFailure = [&](size_t batch, LineStream& lines) {
    try {
      std::string text = lines.take();
      std::lock_guard lock(failuresMutex);
      failures.emplace(batch, std::move(text));
    } catch (...) {
      // Out of memory even for a line: the run still ends as it would have.
    }
  };

  auto work = [&](std::unique_ptr<Worker>& worker, size_t batch) -> BatchLines {
    RecordWalker& walker = worker->walker;
    uint64_t problemsBefore = walker.summary.problems;
    for (size_t r = batches[batch]; r < batches[batch + 1]; ++r) {
      // A record waited for failed: the run ends there, before this batch is printed.
      if (!mayStart(r)) {
        settle(r, batches[batch + 1], abandoned);
        return {};
      }
      try {
        walkRecord(walker, *records[r].folder, records[r].index, records[r].name);
      } catch (...) {
        settle(r, batches[batch + 1], abandoned);
        keepLinesOfFailure(batch, worker->lines);
        throw;
      }
      settle(r, r + 1, finished);
    }
    return {worker->lines.take(), walker.summary.problems - problemsBefore};
  };

  ExtractionSummary summary;
  size_t released = 0;
  OrderedJobsOptions options{jobs, kWindowPerJob * jobs, cancel};
  try {
    runOrderedJobs(
        batches.size() - 1, options, [&] { return std::make_unique<Worker>(archive, parentFd, compressed); }, work,
        [&](size_t, BatchLines&& lines) {
          std::fwrite(lines.text.data(), 1, lines.text.size(), console);
          summary.problems += lines.problems;
          ++released;
          return true;
        });
  } catch (...) {
    // The failure is in the first batch not released; a sequential run has printed its lines so far.
    std::lock_guard lock(failuresMutex);
    auto failed = failures.find(released);
    if (failed != failures.end()) std::fwrite(failed->second.data(), 1, failed->second.size(), console);
    throw;
  }
  return summary;
}

}  // namespace oxtrel
