#include "extract/growable_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace oxtrel {

namespace {

// Buffers this large are worth a huge page each 2 MiB: one fault instead of 512.
constexpr size_t kHugePageWorth = size_t(2) << 20;

// Whole pages; whole huge pages for a large buffer, so that the system places it where huge
// pages fit.
size_t mappingLength(size_t size) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  size_t unit = size >= kHugePageWorth ? kHugePageWorth : page;
  if (size > SIZE_MAX - unit) throw std::bad_alloc();
  return (size + unit - 1) / unit * unit;
}

}  // namespace

void MappedBytesRelease::operator()(uint8_t* bytes) const { munmap(bytes, length); }

uint8_t* reserveBytes(GrowableBuffer& buffer, size_t size) {
  if (size <= buffer.capacity) return buffer.bytes.get();
  size_t length = mappingLength(size);
  void* grown = buffer.bytes ? mremap(buffer.bytes.get(), buffer.capacity, length, MREMAP_MAYMOVE)
                             : mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (grown == MAP_FAILED) throw std::bad_alloc();
  // A failed remap leaves the old mapping as it was; a successful one has taken it over.
  static_cast<void>(buffer.bytes.release());
  buffer.bytes = std::unique_ptr<uint8_t[], MappedBytesRelease>(static_cast<uint8_t*>(grown), {length});
  buffer.capacity = length;
  // Only a hint: without huge pages the buffer works the same.
  if (length >= kHugePageWorth) madvise(grown, length, MADV_HUGEPAGE);
  return buffer.bytes.get();
}

}  // namespace oxtrel
