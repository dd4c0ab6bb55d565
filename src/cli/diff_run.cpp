#include "cli/diff_run.h"

#include <atomic>
#include <optional>

#include <oxtrel/archive.h>
#include <oxtrel/diff.h>

#include "cli/command_run.h"
#include "cli/console_lines.h"
#include "cli/json_text.h"

namespace oxtrel {

namespace {

void printChange(FILE* out, const ArchiveChange& change, bool json, std::string& scratch) {
  const char kind[2] = {static_cast<char>(change.kind), '\0'};
  if (!json) {
    std::fputs(kind, out);
    std::fputc(' ', out);
    writeEscaped(out, change.path);
    std::fputc('\n', out);
    return;
  }
  scratch.assign("{\"change\":\"").append(kind).append("\",\"path\":");
  appendJsonString(scratch, change.path);
  if (!isValidUtf8(change.path)) {
    scratch.append(",\"path_hex\":\"");
    appendHex(scratch, {reinterpret_cast<const uint8_t*>(change.path.data()), change.path.size()});
    scratch.push_back('"');
  }
  scratch.append("}\n");
  std::fwrite(scratch.data(), 1, scratch.size(), out);
}

void warnUnnamed(FILE* lines, uint64_t count, const std::string& archive) {
  if (count == 0) return;
  std::fprintf(lines, "Warning: %llu record%s of ", static_cast<unsigned long long>(count), count == 1 ? "" : "s");
  writeEscaped(lines, archive);
  std::fputs(count == 1 ? " has no name; left out of the comparison\n" : " have no name; left out of the comparison\n",
             lines);
}

}  // namespace

int runDiff(const std::string& olderPath, const std::string& newerPath, const DiffOptions& options, FILE* changes,
            FILE* lines) {
  Console console;
  console.lines = lines;
  std::optional<Archive> archives[2];
  const std::string* paths[2] = {&olderPath, &newerPath};
  for (int k = 0; k < 2; ++k) {
    Result<Archive> opened = openArchive(*paths[k]);
    if (!opened) {
      printOpenFailure(console, *paths[k], opened.error());
      return kExitProblem;
    }
    archives[k].emplace(std::move(opened.value()));
  }

  std::atomic<int> writeFailed{0};
  DiffSettings settings;
  settings.patterns = options.patterns;
  settings.excludes = options.excludes;
  settings.stop = &writeFailed;
  std::string scratch;
  Result<DiffSummary> summary = diffArchives(*archives[0], *archives[1], settings, [&](const ArchiveChange& change) {
    printChange(changes, change, options.json, scratch);
    // A reader that went away will see nothing more: the comparison stops, and the failure is
    // reported when standard output is closed.
    if (std::ferror(changes)) writeFailed = 1;
  });
  if (!summary) {
    if (summary.error().kind == ErrorKind::stopped) return kExitProblem;
    std::fputs("Error: ", lines);
    writeEscaped(lines, message(summary.error()));
    std::fputc('\n', lines);
    return kExitProblem;
  }
  warnUnnamed(lines, summary->unnamedOld, olderPath);
  warnUnnamed(lines, summary->unnamedNew, newerPath);
  for (const std::string& pattern : summary->unusedPatterns) printNoMatch(console, pattern);
  return summary->changes == 0 && summary->unusedPatterns.empty() ? kExitOk : kExitProblem;
}

}  // namespace oxtrel
