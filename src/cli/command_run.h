#pragma once

// One run of the oxtrel command on an archive, made of the library's public calls: open it,
// then list, test, stream or extract the selected entries, printing every line on the console.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <oxtrel/result.h>

#include "cli/console_lines.h"

namespace oxtrel {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;  // cannot open, truncated catalogue, or any problem reported
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutOfMemory = 3;
// 128 + the signal number when a stop signal ended the run (see stop_signals.h).

enum class CommandMode {
  extract,   // write the selected entries below DIR/data
  test,      // read, decode and check the selected entries as extract would; write nothing
  list,      // one line per selected entry and a totals line; read only the catalogue
  json,      // as list, one JSON object per selected record
  toStdout,  // the selected entries' contents, one after another, on `contents`; nothing on disk
};

// The command line's options as a plain record.
struct CommandOptions {
  std::string directory;              // holds `data`; empty for the working directory
  std::vector<std::string> includes;  // path patterns; an entry is selected when any matches
  std::vector<std::string> excludes;  // path patterns that remove selected entries
  CommandMode mode = CommandMode::extract;
  bool keepExisting = false;          // an existing file is left alone ("Kept existing")
  unsigned jobs = 0;                  // threads that extract or test; 0 for one per CPU
  // extract, test and toStdout: each record's outcome as a JSON object (outcome_lines.h) on the
  // console's listing stream instead of the entry, Warning and Error lines.
  bool outcomesAsJson = false;
};

// The line that says why openArchive failed: it could not be opened, it is another format, its
// tables run past its end, or reading them failed (with the system's reason).
void printOpenFailure(Console& console, std::string_view displayPath, const Error& error);

// Opens options.directory, then the archive at archivePath (named displayPath in messages), and
// runs the mode. The stop signals' flag (stop_signals.h) ends an extraction or test between
// entries. Returns kExitOk when no problem was reported, else kExitProblem, or 128 + the signal
// when a stop signal ended the run. Running out of memory throws std::bad_alloc after the lines
// of every entry before it.
int runCommand(const std::string& archivePath, const std::string& displayPath, const CommandOptions& options,
               Console& console, FILE* contents);

}  // namespace oxtrel
