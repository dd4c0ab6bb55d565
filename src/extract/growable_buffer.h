#pragma once

// A byte buffer reused across entries: it only grows, and growing does not zero-fill, so large
// payloads cost no extra pass over memory. A large buffer is mapped directly and grows by
// remapping, so the pages an earlier entry touched stay in place: a run pays one page fault per
// page of its largest entry however often the buffer grows on the way there, and asks for huge
// pages where the system gives them on request. A small one lives on the heap, where a buffer
// made for one call costs no system call.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace oxtrel {

// Buffers of at least this many bytes are mapped.
inline constexpr size_t kMappedBufferBytes = 256 * 1024;

struct BufferRelease {
  size_t capacity = 0;  // of the buffer released: mapped or on the heap
  void operator()(uint8_t* bytes) const;
};

struct GrowableBuffer {
  std::unique_ptr<uint8_t[], BufferRelease> bytes;
  size_t capacity = 0;
};

// Returns a buffer of at least size bytes (null when size and the capacity are 0); earlier
// contents are not kept. Throws std::bad_alloc when the memory cannot be had.
uint8_t* reserveBytes(GrowableBuffer& buffer, size_t size);

}  // namespace oxtrel
