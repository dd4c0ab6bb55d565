#pragma once

// Whole transfers as results: every read and write is retried after an interruption and
// continued after a short count (platform::readFully and writeFully).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/result.h"
#include "platform/platform.h"

namespace oxtrel {

// Reads into dst, at offset when given or at the file position. The count is dst.size() unless
// the file ends first. Failures are cannotRead with errno; where is left to the caller.
Result<size_t> readFully(platform::NativeHandle file, std::span<uint8_t> dst, std::optional<uint64_t> offset);

// Writes all of bytes, at offset when given or at the file position. Failures are cannotWrite
// with errno; where is left to the caller.
Status writeFully(platform::NativeHandle file, std::span<const uint8_t> bytes, std::optional<uint64_t> offset);

}  // namespace oxtrel
