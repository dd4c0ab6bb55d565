#pragma once

// Whether two entries, each of its own archive, hold the same contents. The stored bytes are
// compared when both archives store payloads alike and the stored sizes agree; the decoded
// contents only when that cannot settle it. Everything is read piece by piece into the caller's
// buffers, so memory does not follow the entries' sizes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <oxtrel/archive.h>

#include "common/result.h"

namespace oxtrel {

// Large enough that read calls cost little next to the copying, small enough to stay cheap.
inline constexpr size_t kComparisonChunk = size_t(1) << 20;

struct ComparisonBuffers {
  std::vector<uint8_t> older = std::vector<uint8_t>(kComparisonChunk);
  std::vector<uint8_t> newer = std::vector<uint8_t>(kComparisonChunk);
};

// Errors name the entry that failed as "<path> in <archive path>": truncated (its payload lies
// outside its archive), unpackFailed (a compressed payload that had to be decoded is damaged: both
// are decoded to their ends once compared, so damage is found even after a first difference),
// cannotRead.
Result<bool> sameContents(const Archive& olderArchive, const Entry& older, const Archive& newerArchive,
                          const Entry& newer, ComparisonBuffers& buffers);

}  // namespace oxtrel
