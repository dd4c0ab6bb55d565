#pragma once

// Whole transfers: every read and write call is retried after EINTR and continued after a short
// count, the one loop for all of them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/result.h"

namespace oxtrel {

// Reads into dst, at offset when given (pread) or at the file position. The count is dst.size()
// unless the file ends first. Failures are cannotRead with errno; where is left to the caller.
Result<size_t> readFully(int fd, std::span<uint8_t> dst, std::optional<uint64_t> offset);

// Writes all of bytes, at offset when given (pwrite) or at the file position. Failures are
// cannotWrite with errno; where is left to the caller.
Status writeFully(int fd, std::span<const uint8_t> bytes, std::optional<uint64_t> offset);

}  // namespace oxtrel
