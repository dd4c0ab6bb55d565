#pragma once

// One self-rewriting line on a terminal for long runs: entries and bytes done of the total, the
// rate and the time left. Redrawn at most ten times a second, so it costs a run nothing.

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace oxtrel {

struct ProgressLine {
  FILE* out = stderr;
  uint64_t totalEntries = 0;
  uint64_t totalBytes = 0;
  uint64_t doneEntries = 0;
  uint64_t doneBytes = 0;
  uint32_t currentSize = 0;  // the entry under way, counted done when the next one starts
  bool underWay = false;
  std::chrono::steady_clock::time_point started{};
  std::chrono::steady_clock::time_point drawn{};
  bool shown = false;
};

void startProgress(ProgressLine& progress, uint64_t entries, uint64_t bytes);

// An entry of size bytes begins; the one before it is done.
void advanceProgress(ProgressLine& progress, uint32_t size);

// Erases the line (before another line is printed on the same terminal, and at the end).
void clearProgress(ProgressLine& progress);

}  // namespace oxtrel
