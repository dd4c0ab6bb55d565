#pragma once

// One whole run on an archive: load the catalogue, index the names, extract every file.

#include <cstdio>

#include "io/positional_file.h"

namespace oxtrel {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;  // cannot open, truncated catalogue, or any problem line
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutOfMemory = 3;

// Extracts archive into `data` below parentFd, printing on console; displayPath names the archive
// in messages. Returns kExitOk when nothing was reported, else kExitProblem.
int extractArchive(const PositionalFile& archive, const char* displayPath, int parentFd, FILE* console);

// Opens path ("cannot open %s\n" when it is not a readable regular file), then extracts it.
int runExtraction(const char* path, int parentFd, FILE* console);

}  // namespace oxtrel
