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

// ThreadSanitizer does not see a mapping that mremap moves: the pages keep the history of the
// thread that used them at their old address, and a buffer mapped later at that address by
// another thread is reported as racing with it. Its build keeps every buffer on the heap, which
// it follows, so that a report there is a real race.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kMapLargeBuffers = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kMapLargeBuffers = false;
#else
inline constexpr bool kMapLargeBuffers = true;
#endif
#else
inline constexpr bool kMapLargeBuffers = true;
#endif

// Buffers of at least this many bytes are mapped.
inline constexpr size_t kMappedBufferBytes = kMapLargeBuffers ? 256 * 1024 : SIZE_MAX;

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
