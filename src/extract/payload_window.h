#pragma once

// Reads payloads through one window of the archive. When an entry's payload starts where the
// previous one ended (the packer writes them so, in table order), the window reads ahead, so a
// run of small payloads costs one read call per window instead of one per entry. Any other
// layout is still read exactly, entry by entry.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/result.h"
#include "extract/growable_buffer.h"
#include "io/positional_file.h"

namespace oxtrel {

// Large enough to make read calls rare, small enough to stay in the processor's cache.
inline constexpr size_t kReadAhead = 256 * 1024;

struct PayloadWindow {
  GrowableBuffer buffer;
  uint64_t start = 0;              // archive offset of the buffer's first byte
  size_t filled = 0;               // archive bytes held from start
  uint64_t previousEnd = UINT64_MAX;  // where the last payload served ended
};

// The length bytes at offset, valid until the next call. truncated when the archive does not
// hold them, cannotRead when reading fails; where is left to the caller. The buffer grows to the
// largest payload, or kReadAhead, whichever is more.
Result<std::span<const uint8_t>> readPayload(PayloadWindow& window, const PositionalFile& archive, uint64_t offset,
                                             size_t length);

}  // namespace oxtrel
