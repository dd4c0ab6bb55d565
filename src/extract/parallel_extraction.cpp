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

// Finished records whose lines wait for an earlier one: the lines are small, and a slow record
// (a large file) should not leave the other threads idle for long.
constexpr size_t kWindowPerJob = 32;

struct Record {
  const Folder* folder;
  uint32_t index;            // in the folder's file table
  const std::string* name;   // nullptr when the hash matched no name
};

// What other threads learn about a record they wait for.
enum RecordState : uint8_t { pending, finished, abandoned };

struct RecordLines {
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
      : tree(makeOutputTree(parentFd)), walker{archive, tree, lines.stream, compressed} {
    walker.window.skip = kReadAhead;
  }
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
  WriteOrder order = planRecords(records);
  std::vector<uint8_t> waitedFor(records.size());
  for (uint32_t w : order.waits) waitedFor[w] = 1;
  auto states = std::make_unique<std::atomic<uint8_t>[]>(records.size());

  auto settle = [&](size_t item, RecordState state) {
    states[item].store(state, std::memory_order_release);
    if (waitedFor[item]) states[item].notify_all();
  };

  std::mutex failuresMutex;
  std::map<size_t, std::string> failures;  // the lines a failed record printed before it failed
  auto keepLinesOfFailure = [&](size_t item, LineStream& lines) {
    try {
      std::string text = lines.take();
      std::lock_guard lock(failuresMutex);
      failures.emplace(item, std::move(text));
    } catch (...) {
      // Out of memory even for a line: the run still ends as it would have.
    }
  };

  auto work = [&](std::unique_ptr<Worker>& worker, size_t item) -> RecordLines {
    for (uint32_t w : waitsOf(order, item)) {
      states[w].wait(pending, std::memory_order_acquire);
      // The run ends at that record, before this one's lines would be printed.
      if (states[w].load(std::memory_order_acquire) == abandoned) {
        settle(item, abandoned);
        return {};
      }
    }
    RecordWalker& walker = worker->walker;
    uint64_t problemsBefore = walker.summary.problems;
    try {
      walkRecord(walker, *records[item].folder, records[item].index, records[item].name);
    } catch (...) {
      settle(item, abandoned);
      keepLinesOfFailure(item, worker->lines);
      throw;
    }
    settle(item, finished);
    return {worker->lines.take(), walker.summary.problems - problemsBefore};
  };

  ExtractionSummary summary;
  size_t released = 0;
  OrderedJobsOptions options{jobs, kWindowPerJob * jobs, cancel};
  try {
    runOrderedJobs(
        records.size(), options, [&] { return std::make_unique<Worker>(archive, parentFd, compressed); }, work,
        [&](size_t, RecordLines&& lines) {
          std::fwrite(lines.text.data(), 1, lines.text.size(), console);
          summary.problems += lines.problems;
          ++released;
          return true;
        });
  } catch (...) {
    // The failure is the first record not released; a sequential run has printed its lines so far.
    std::lock_guard lock(failuresMutex);
    auto failed = failures.find(released);
    if (failed != failures.end()) std::fwrite(failed->second.data(), 1, failed->second.size(), console);
    throw;
  }
  return summary;
}

}  // namespace oxtrel
