#include "extract/payload_window.h"

#include <algorithm>

namespace oxtrel {

Result<std::span<const uint8_t>> readPayload(PayloadWindow& window, const PositionalFile& archive, uint64_t offset,
                                             size_t length) {
  bool held = offset >= window.start && offset - window.start <= window.filled &&
              length <= window.filled - (offset - window.start);
  if (!held) {
    if (!fileHolds(archive, offset, length)) return Error{ErrorKind::truncated, 0, {}};
    size_t want = length;
    if (offset == window.previousEnd && length < kReadAhead)
      want = size_t(std::min<uint64_t>(kReadAhead, archive.size - offset));
    uint8_t* dst = reserveBytes(window.buffer, want);
    window.filled = 0;
    if (Status read = readAt(archive, offset, {dst, want}); !read) return std::move(read.error());
    window.start = offset;
    window.filled = want;
  }
  window.previousEnd = offset + length;
  return std::span<const uint8_t>(window.buffer.bytes.get() + (offset - window.start), length);
}

}  // namespace oxtrel
