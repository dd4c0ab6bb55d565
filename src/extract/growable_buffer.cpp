#include "extract/growable_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace oxtrel {

namespace {

// Mappings this large are worth a huge page each 2 MiB: one fault instead of 512.
constexpr size_t kHugePageBytes = size_t(2) << 20;

// Whole pages; whole huge pages for a large mapping, so that the system places it where huge
// pages fit.
size_t mappingLength(size_t size) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  size_t unit = size >= kHugePageBytes ? kHugePageBytes : page;
  if (size > SIZE_MAX - unit) throw std::bad_alloc();
  return (size + unit - 1) / unit * unit;
}

using Bytes = std::unique_ptr<uint8_t[], BufferRelease>;

}  // namespace

void BufferRelease::operator()(uint8_t* bytes) const {
  if (capacity >= kMappedBufferBytes)
    munmap(bytes, capacity);
  else
    delete[] bytes;
}

uint8_t* reserveBytes(GrowableBuffer& buffer, size_t size) {
  if (size <= buffer.capacity) return buffer.bytes.get();
  if (size < kMappedBufferBytes) {
    buffer.bytes.reset();
    buffer.capacity = 0;
    buffer.bytes = Bytes(new uint8_t[size], {size});
    buffer.capacity = size;
    return buffer.bytes.get();
  }
  size_t length = mappingLength(size);
  bool mapped = buffer.capacity >= kMappedBufferBytes;
  void* grown = mapped ? mremap(buffer.bytes.get(), buffer.capacity, length, MREMAP_MAYMOVE)
                       : mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  // A failed call leaves the buffer as it was.
  if (grown == MAP_FAILED) throw std::bad_alloc();
  // A remap has taken the old mapping over; a heap buffer goes.
  if (mapped) static_cast<void>(buffer.bytes.release());
  buffer.bytes = Bytes(static_cast<uint8_t*>(grown), {length});
  buffer.capacity = length;
  // Only a hint: without huge pages the buffer works the same.
  if (length >= kHugePageBytes) madvise(grown, length, MADV_HUGEPAGE);
  return buffer.bytes.get();
}

}  // namespace oxtrel
