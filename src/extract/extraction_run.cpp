#include "extract/extraction_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/archive_listing.h"
#include "extract/entry_selection.h"
#include "extract/extraction_walk.h"
#include "extract/output_tree.h"
#include "extract/parallel_extraction.h"
#include "extract/stop_signals.h"

namespace oxtrel {

namespace {

void report(const EventSink& sink, EventKind kind, std::string_view path, int error = 0) {
  ExtractionEvent event;
  event.kind = kind;
  event.path = path;
  event.error = error;
  emit(sink, event);
}

bool listing(RunMode mode) { return mode == RunMode::list || mode == RunMode::json; }

}  // namespace

int runArchive(const PositionalFile& archive, const char* displayPath, int parentFd, const ExtractOptions& options,
               const EventSink& sink, FILE* contents) {
  // Tables first, then payloads in table order: mostly one forward pass over the file. Only
  // advice, so a refusal changes nothing.
  posix_fadvise(archive.fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  Result<Catalogue> loaded = loadCatalogue(archive);
  if (!loaded) {
    // A read error inside the tables reads, to the user, as a catalogue that is not all there.
    report(sink, EventKind::truncatedCatalogue, displayPath);
    return kExitProblem;
  }
  const Catalogue& catalogue = *loaded;
  Result<NameIndex> read = readNameIndex(archive, catalogue.nameBlockOffset, catalogue.header.totalNameLength,
                                        catalogue.header.fileCount, requestedNameKeys(catalogue));
  if (!read) {
    report(sink, EventKind::truncatedCatalogue, displayPath);
    return kExitProblem;
  }
  const NameIndex& index = *read;
  EntrySelection selection = selectEntries(catalogue, index, options.includes, options.excludes);

  ExtractionEvent selected;
  selected.kind = EventKind::selected;
  selected.totalEntries = selection.entries;
  selected.totalStored = selection.storedBytes;
  emit(sink, selected);

  bool problems = false;
  if (listing(options.mode)) {
    problems = listArchive(catalogue, index, archive, selection, sink).problems != 0;
    report(sink, EventKind::finished, {});
  } else {
    WalkSettings settings{options.mode, options.keepExisting, contents};
    ExtractionSummary summary;
    // Streamed contents must come in table order, so that mode keeps to one thread.
    if (options.jobs > 1 && options.mode != RunMode::toStdout) {
      summary = extractInParallel(catalogue, index, archive, parentFd, selection, settings, sink, options.jobs);
    } else {
      OutputTree tree = makeOutputTree(parentFd);
      summary = extractAll(catalogue, index, archive, tree, selection, settings, sink);
    }
    report(sink, EventKind::finished, {});
    problems = summary.problems != 0 || summary.streamError != 0;
  }
  // A signal caught during the last entry still ends the run as a signal would.
  if (int signal = stopSignal(); signal != 0) return 128 + signal;
  for (size_t i = 0; i < options.includes.size(); ++i) {
    if (selection.includeUsed[i]) continue;
    report(sink, EventKind::noMatch, options.includes[i]);
    problems = true;
  }
  return problems ? kExitProblem : kExitOk;
}

int runArchivePath(const char* path, const ExtractOptions& options, const EventSink& sink, FILE* contents) {
  UniqueFd directory;
  if (!options.directory.empty()) {
    directory = UniqueFd(open(options.directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) {
      report(sink, EventKind::cannotOpenDirectory, options.directory, errno);
      return kExitProblem;
    }
  }
  Result<PositionalFile> opened = openPositionalFile(path);
  if (!opened) {
    report(sink, EventKind::cannotOpen, path);
    return kExitProblem;
  }
  return runArchive(*opened, path, directory.valid() ? directory.get() : AT_FDCWD, options, sink, contents);
}

}  // namespace oxtrel
