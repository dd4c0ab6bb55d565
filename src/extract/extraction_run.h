#pragma once

// One whole run on an archive: load the catalogue, index the names, select the entries, then
// extract, test, list or stream them as the options ask.

#include <cstdio>

#include "extract/extract_options.h"
#include "extract/extraction_events.h"
#include "io/positional_file.h"

namespace oxtrel {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;  // cannot open, truncated catalogue, or any problem reported
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutOfMemory = 3;
// 128 + the signal number when a stop signal ended the run (see stop_signals.h).

// Runs options on archive with `data` below parentFd (options.directory is not looked at);
// displayPath names the archive in messages; contents receives the entries' bytes in toStdout
// mode. Events: selected, then the walk's or the listing's, then finished, then noMatch for each
// include pattern that selected nothing. Returns kExitOk when no problem was reported, else
// kExitProblem, or 128 + the signal when a stop signal ended the walk.
int runArchive(const PositionalFile& archive, const char* displayPath, int parentFd, const ExtractOptions& options,
               const EventSink& sink, FILE* contents);

// Opens options.directory (cannotOpenDirectory) and the archive at path (cannotOpen), then runs.
int runArchivePath(const char* path, const ExtractOptions& options, const EventSink& sink, FILE* contents);

}  // namespace oxtrel
