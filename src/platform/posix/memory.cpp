// Large buffers mapped from the system on POSIX.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "platform/platform.h"
#include "platform/posix/fast_paths.h"

namespace oxtrel::platform {

namespace {

// Mappings this large are worth a huge page each 2 MiB: one fault instead of 512.
constexpr size_t kHugePageBytes = size_t(2) << 20;

}  // namespace

// Whole huge pages for a large mapping, so that the system places it where huge pages fit.
size_t mappedLength(size_t size) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  size_t unit = size >= kHugePageBytes ? kHugePageBytes : page;
  if (size > SIZE_MAX - unit) throw std::bad_alloc();
  return (size + unit - 1) / unit * unit;
}

uint8_t* remapMemory(uint8_t* old, size_t oldLength, size_t length) {
  uint8_t* grown = nullptr;
  if (!old || !fast::remap(old, oldLength, length, grown)) {
    void* fresh = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    grown = fresh == MAP_FAILED ? nullptr : static_cast<uint8_t*>(fresh);
    if (grown && old) munmap(old, oldLength);
  }
  if (grown && length >= kHugePageBytes) fast::adviseHugePages(grown, length);
  return grown;
}

void unmapMemory(uint8_t* bytes, size_t length) { munmap(bytes, length); }

}  // namespace oxtrel::platform
