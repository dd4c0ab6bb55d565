#pragma once

// A byte buffer reused across entries: it only grows, and growing does not zero-fill, so large
// payloads cost no extra pass over memory.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace oxtrel {

struct GrowableBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;
};

// Returns a buffer of at least size bytes; earlier contents are not kept.
inline uint8_t* reserveBytes(GrowableBuffer& buffer, size_t size) {
  if (size > buffer.capacity) {
    buffer.bytes.reset();
    buffer.bytes = std::make_unique_for_overwrite<uint8_t[]>(size);
    buffer.capacity = size;
  }
  return buffer.bytes.get();
}

}  // namespace oxtrel
