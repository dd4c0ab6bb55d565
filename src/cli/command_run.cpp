#include "cli/command_run.h"

#include <cerrno>
#include <optional>

#include <oxtrel/archive.h>
#include <oxtrel/extract.h>

#include "cli/outcome_lines.h"
#include "cli/stop_signals.h"
#include "platform/platform.h"

namespace oxtrel {

namespace {

bool reportUnusedPatterns(Console& console, const std::vector<std::string>& unused) {
  for (const std::string& pattern : unused) printNoMatch(console, pattern);
  return !unused.empty();
}

int listEntries(const Archive& archive, const CommandOptions& options, Console& console) {
  // Without patterns every record is listed: no list of their places is made.
  const bool all = options.includes.empty() && options.excludes.empty();
  EntryMatches matches = all ? EntryMatches{} : matchEntries(archive, options.includes, options.excludes);
  const size_t listed = all ? entryCount(archive) : matches.indices.size();
  bool problems = false;
  uint64_t count = 0, stored = 0, unpacked = 0;
  for (size_t k = 0; k < listed; ++k) {
    const Entry entry = entryAt(archive, all ? k : matches.indices[k]);
    if (options.mode == CommandMode::names)
      printListedPath(console, entry);
    else
      printListed(console, entry);
    if (!entry.name) {
      problems = true;
      continue;
    }
    ++count;
    stored += entry.storedSize;
    unpacked += listedUnpackedSize(entry).value_or(0);
  }
  if (options.mode != CommandMode::names) printListTotals(console, count, stored, unpacked);
  problems |= reportUnusedPatterns(console, matches.unusedPatterns);
  return problems ? kExitProblem : kExitOk;
}

int extractEntries(const Archive& archive, int directoryFd, const CommandOptions& options, Console& console,
                   FILE* contents) {
  ExtractSettings settings;
  settings.destinationFd = directoryFd;
  if (options.mode == CommandMode::extract) settings.destination = options.directory;
  settings.patterns = options.includes;
  settings.excludes = options.excludes;
  settings.keepExisting = options.keepExisting;
  settings.jobs = options.jobs;
  settings.testOnly = options.mode == CommandMode::test;
  if (options.mode == CommandMode::toStdout) settings.stream = contents;
  settings.stop = &stopSignalFlag();

  ProgressLine* progress = console.progress;
  bool started = false;
  ExtractProgressCallback onProgress;
  if (progress)
    onProgress = [&](const ExtractProgress& done) {
      if (started) return;
      startProgress(*progress, done.entriesTotal, done.bytesTotal);
      started = true;
    };
  std::optional<OutcomeLines> outcomes;
  if (options.outcomesAsJson) {
    const char* success = options.mode == CommandMode::test       ? "tested"
                          : options.mode == CommandMode::toStdout ? "streamed"
                                                                  : "written";
    outcomes = makeOutcomeLines(archive, options.includes, options.excludes, success, console.listing);
    console.outcomes = &*outcomes;
  }
  Result<ExtractReport> report =
      extract(archive, settings, [&](const ExtractEvent& event) { printEvent(console, event); }, onProgress);
  if (progress) clearProgress(*progress);
  if (outcomes && report) finishOutcomes(*outcomes, report->streamError);
  console.outcomes = nullptr;
  if (!report) {
    if (report.error().kind == ErrorKind::cannotOpen)
      printCannotOpenDirectory(console, options.directory, report.error().systemError);
    else
      std::fprintf(console.lines, "Error: %s\n", message(report.error()).c_str());
    return kExitProblem;
  }
  // A signal caught during the last entry still ends the run as a signal would.
  if (int signal = stopSignal(); signal != 0) return 128 + signal;
  reportUnusedPatterns(console, report->unusedPatterns);
  return report->clean() ? kExitOk : kExitProblem;
}

}  // namespace

void printOpenFailure(Console& console, std::string_view displayPath, const Error& error) {
  switch (error.kind) {
    case ErrorKind::cannotOpen: return printCannotOpen(console, displayPath);
    case ErrorKind::truncated: return printTruncatedCatalogue(console, displayPath);
    case ErrorKind::notAnArchive: return printNotAnArchive(console, displayPath, error.where);
    default: return printCannotReadCatalogue(console, displayPath, error.systemError);
  }
}

int runCommand(const std::string& archivePath, const std::string& displayPath, const CommandOptions& options,
               Console& console, FILE* contents) {
  // The directory named by -C, open for the length of the run. An extraction leaves it to the
  // library, which makes it when missing, once the archive has opened.
  platform::Directory directory;
  if (!options.directory.empty() && options.mode != CommandMode::extract) {
    if (platform::SystemError error = platform::openDirectory(options.directory, directory); error != 0) {
      printCannotOpenDirectory(console, options.directory, error);
      return kExitProblem;
    }
  }
  Result<Archive> opened = openArchive(archivePath);
  if (!opened) {
    printOpenFailure(console, displayPath, opened.error());
    return kExitProblem;
  }
  if (options.mode == CommandMode::list || options.mode == CommandMode::json || options.mode == CommandMode::names)
    return listEntries(*opened, options, console);
  return extractEntries(*opened, directory.valid() ? int(directory.get()) : -1, options, console, contents);
}

}  // namespace oxtrel
