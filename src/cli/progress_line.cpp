#include "cli/progress_line.h"

namespace oxtrel {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// Whole mebibytes with one decimal: the line's width barely moves as it counts.
double mebibytes(uint64_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

void draw(ProgressLine& progress, std::chrono::steady_clock::time_point now) {
  double seconds = std::chrono::duration<double>(now - progress.started).count();
  double rate = seconds > 0 ? double(progress.doneBytes) / seconds : 0;
  std::fprintf(progress.out, "\r%llu/%llu entries, %.1f/%.1f MiB, %.1f MiB/s",
               static_cast<unsigned long long>(progress.doneEntries),
               static_cast<unsigned long long>(progress.totalEntries), mebibytes(progress.doneBytes),
               mebibytes(progress.totalBytes), mebibytes(static_cast<uint64_t>(rate)));
  if (rate > 0 && progress.doneBytes < progress.totalBytes) {
    long long left = static_cast<long long>(double(progress.totalBytes - progress.doneBytes) / rate);
    std::fprintf(progress.out, ", %lld:%02lld left", left / 60, left % 60);
  }
  std::fputs("\033[K", progress.out);
  std::fflush(progress.out);
  progress.drawn = now;
  progress.shown = true;
}

}  // namespace

void startProgress(ProgressLine& progress, uint64_t entries, uint64_t bytes) {
  progress.totalEntries = entries;
  progress.totalBytes = bytes;
  progress.doneEntries = progress.doneBytes = 0;
  progress.currentSize = 0;
  progress.underWay = false;
  progress.started = progress.drawn = std::chrono::steady_clock::now();
}

void advanceProgress(ProgressLine& progress, uint32_t size) {
  if (progress.underWay) {
    ++progress.doneEntries;
    progress.doneBytes += progress.currentSize;
  }
  progress.underWay = true;
  progress.currentSize = size;
  auto now = std::chrono::steady_clock::now();
  if (now - progress.drawn >= kRedrawInterval) draw(progress, now);
}

void clearProgress(ProgressLine& progress) {
  if (!progress.shown) return;
  std::fputs("\r\033[K", progress.out);
  std::fflush(progress.out);
  progress.shown = false;
}

}  // namespace oxtrel
