#include "extract/growable_buffer.h"

#include <new>

#include "platform/platform.h"

namespace oxtrel {

namespace {

using Bytes = std::unique_ptr<uint8_t[], BufferRelease>;

}  // namespace

void BufferRelease::operator()(uint8_t* bytes) const {
  if (capacity >= kMappedBufferBytes)
    platform::unmapMemory(bytes, capacity);
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
  size_t length = platform::mappedLength(size);
  bool mapped = buffer.capacity >= kMappedBufferBytes;
  uint8_t* grown = platform::remapMemory(mapped ? buffer.bytes.get() : nullptr, mapped ? buffer.capacity : 0, length);
  // A failed call leaves the buffer as it was.
  if (!grown) throw std::bad_alloc();
  // The new mapping has taken the old one's place; a heap buffer goes.
  if (mapped) static_cast<void>(buffer.bytes.release());
  buffer.bytes = Bytes(grown, {length});
  buffer.capacity = length;
  return buffer.bytes.get();
}

}  // namespace oxtrel
