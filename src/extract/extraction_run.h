#pragma once

// One whole run on an archive: load the catalogue, index the names, extract every file.

#include <cstdio>

#include "catalogue/archive_file.h"

namespace oxtrel {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;  // cannot open, truncated catalogue, or any problem line
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutOfMemory = 3;
// 128 + the signal number when a stop signal ended the run (see stop_signals.h).

// Extracts archive into `data` below parentFd, printing on console; displayPath names the archive
// in messages. Returns kExitOk when nothing was reported, else kExitProblem, or 128 + the signal
// when a stop signal ended the walk. Does not close archive.
int extractArchive(const ArchiveFile& archive, const char* displayPath, int parentFd, FILE* console);

// Opens path ("cannot open %s\n" when it is not a readable regular file), then extracts it.
int runExtraction(const char* path, int parentFd, FILE* console);

}  // namespace oxtrel
