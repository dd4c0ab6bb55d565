#pragma once

// A byte buffer reused across entries: it only grows, and growing neither zero-fills nor copies.
// Its memory is mapped directly and grown by remapping, so the pages an earlier entry touched
// stay in place: a run pays one page fault per page of its largest entry, however often the
// buffer grows on the way there. Large buffers ask for huge pages where the system gives them
// on request.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace oxtrel {

struct MappedBytesRelease {
  size_t length = 0;  // of the mapping
  void operator()(uint8_t* bytes) const;
};

struct GrowableBuffer {
  std::unique_ptr<uint8_t[], MappedBytesRelease> bytes;
  size_t capacity = 0;
};

// Returns a buffer of at least size bytes (null when size and the capacity are 0); earlier
// contents are not kept. Throws std::bad_alloc when the memory cannot be had.
uint8_t* reserveBytes(GrowableBuffer& buffer, size_t size);

}  // namespace oxtrel
