#include <oxtrel/extract.h>

#include <cerrno>

#include "api/archive_state.h"
#include "api/path_argument.h"
#include "extract/entry_selection.h"
#include "extract/extraction_walk.h"
#include "extract/output_tree.h"
#include "extract/parallel_extraction.h"
#include "parallel/job_count.h"
#include "platform/platform.h"

namespace oxtrel {

namespace {

// Turns the walk's events into the public ones and counts progress: an entry is done when the
// next one begins, or when the walk ends.
struct EventBridge {
  const ExtractEventCallback& onEvent;
  const ExtractProgressCallback& onProgress;
  ExtractProgress progress{};
  uint32_t currentSize = 0;
  bool underWay = false;

  void advance() {
    if (underWay) {
      ++progress.entriesDone;
      progress.bytesDone += currentSize;
    }
  }
};

void forward(void* context, const ExtractionEvent& event) {
  EventBridge& bridge = *static_cast<EventBridge*>(context);
  if (event.kind == EventKind::entry) {
    bridge.advance();
    bridge.currentSize = event.size;
    bridge.underWay = true;
    if (bridge.onProgress) bridge.onProgress(bridge.progress);
  }
  if (!bridge.onEvent) return;
  ExtractEventKind kind = ExtractEventKind::entry;
  switch (event.kind) {
    case EventKind::entry: kind = ExtractEventKind::entry; break;
    case EventKind::unmatched: kind = ExtractEventKind::unmatched; break;
    case EventKind::unsafePath: kind = ExtractEventKind::unsafePath; break;
    case EventKind::truncatedPayload: kind = ExtractEventKind::truncatedPayload; break;
    case EventKind::unpackFailed: kind = ExtractEventKind::unpackFailed; break;
    case EventKind::possiblyPacked: kind = ExtractEventKind::possiblyPacked; break;
    case EventKind::cannotWrite: kind = ExtractEventKind::cannotWrite; break;
    case EventKind::keptExisting: kind = ExtractEventKind::keptExisting; break;
  }
  bridge.onEvent({kind, event.path, event.folder, event.position, event.offset, event.size, event.error});
}

// The records a caller named by index, as a selection: chosen as they are, named or not.
Result<EntrySelection> selectRecords(const Catalogue& catalogue, const NameIndex& index,
                                     const std::vector<size_t>& records) {
  EntrySelection selection;
  selection.chosen.assign(catalogue.files.size(), 0);
  for (size_t record : records) {
    if (record >= catalogue.files.size())
      return Error{ErrorKind::invalidArgument, 0, "entry number " + std::to_string(record) + ", past the last"};
    if (selection.chosen[record]) continue;
    selection.chosen[record] = 1;
    if (lookup(index, catalogue.files[record].hash)) {
      ++selection.entries;
      selection.storedBytes += catalogue.files[record].size;
    }
  }
  return selection;
}

}  // namespace

Result<ExtractReport> extract(const Archive& archive, const ExtractSettings& settings,
                              const ExtractEventCallback& onEvent, const ExtractProgressCallback& onProgress) {
  if (!archive.state) return movedFrom();
  if (settings.jobs > kMaxJobs)
    return Error{ErrorKind::invalidArgument, 0, "jobs " + std::to_string(settings.jobs) + ", above " +
                                                    std::to_string(kMaxJobs)};
  if (Status usable = checkPathArgument(settings.destination, "destination"); !usable)
    return std::move(usable.error());
  platform::Directory directory;
  if (settings.destinationFd < 0 && !settings.stream && !settings.destination.empty()) {
    platform::SystemError error = platform::openDirectory(settings.destination, directory);
    // A missing destination is made with its parents, as mkdir -p would; a test makes nothing.
    if (error == ENOENT && !settings.testOnly) {
      error = platform::createDirectories(settings.destination);
      if (error == 0) error = platform::openDirectory(settings.destination, directory);
    }
    if (error != 0) return Error{ErrorKind::cannotOpen, error, settings.destination};
  }
  const ArchiveState& state = *archive.state;
  // Payloads are read in table order: mostly one forward pass over the file. Only advice.
  platform::adviseSequential(state.file.file.get());
  if (!settings.entries.empty() && (!settings.patterns.empty() || !settings.excludes.empty()))
    return Error{ErrorKind::invalidArgument, 0, "entries together with patterns"};
  Result<EntrySelection> selected = settings.entries.empty()
      ? Result<EntrySelection>(selectEntries(state.catalogue, state.index, settings.patterns, settings.excludes))
      : selectRecords(state.catalogue, state.index, settings.entries);
  if (!selected) return std::move(selected.error());
  const EntrySelection& selection = *selected;

  EventBridge bridge{onEvent, onProgress};
  bridge.progress.entriesTotal = selection.entries;
  bridge.progress.bytesTotal = selection.storedBytes;
  const platform::NativeHandle parent = settings.destinationFd >= 0 ? platform::NativeHandle(settings.destinationFd)
                                        : directory.valid()          ? directory.get()
                                                                     : platform::workingDirectory();
  const unsigned jobs = settings.jobs == 0 ? defaultJobCount() : settings.jobs;
  const RunMode mode = settings.stream ? RunMode::toStdout : settings.testOnly ? RunMode::test : RunMode::extract;
  WalkSettings walk{mode, settings.keepExisting, settings.stream, settings.stop};
  const EventSink sink{forward, &bridge};
  ExtractionSummary summary;
  // Streamed contents must come in table order, so that mode keeps to one thread.
  if (jobs > 1 && !settings.stream) {
    summary = extractInParallel(state.catalogue, state.index, state.file, parent, selection, walk, sink, jobs);
  } else {
    OutputTree tree = makeOutputTree(parent);
    summary = extractAll(state.catalogue, state.index, state.file, tree, selection, walk, sink);
  }
  bridge.advance();
  if (onProgress) onProgress(bridge.progress);

  ExtractReport report;
  report.written = summary.written;
  report.kept = summary.kept;
  report.problems = summary.problems;
  report.streamError = summary.streamError;
  report.stopped = summary.stoppedBy != 0;
  for (size_t i = 0; i < settings.patterns.size(); ++i)
    if (!selection.includeUsed[i]) report.unusedPatterns.push_back(settings.patterns[i]);
  return report;
}

}  // namespace oxtrel
