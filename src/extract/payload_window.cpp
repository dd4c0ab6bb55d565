#include "extract/payload_window.h"

#include <algorithm>

namespace oxtrel {

std::optional<std::span<const uint8_t>> readPayload(PayloadWindow& window, const ArchiveFile& archive,
                                                    uint64_t offset, size_t length) {
  bool held = offset >= window.start && offset - window.start <= window.filled &&
              length <= window.filled - (offset - window.start);
  if (!held) {
    if (!archiveHolds(archive, offset, length)) return std::nullopt;
    size_t want = length;
    if (offset == window.previousEnd && length < kReadAhead)
      want = size_t(std::min<uint64_t>(kReadAhead, archive.size - offset));
    uint8_t* dst = reserveBytes(window.buffer, want);
    window.filled = 0;
    if (!readAt(archive, offset, dst, want)) return std::nullopt;
    window.start = offset;
    window.filled = want;
  }
  window.previousEnd = offset + length;
  return std::span<const uint8_t>(window.buffer.bytes.get() + (offset - window.start), length);
}

}  // namespace oxtrel
