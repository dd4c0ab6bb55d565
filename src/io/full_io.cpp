#include "io/full_io.h"

namespace oxtrel {

Result<size_t> readFully(platform::NativeHandle file, std::span<uint8_t> dst, std::optional<uint64_t> offset) {
  size_t done = 0;
  if (platform::SystemError error = platform::readFully(file, dst, offset, done); error != 0)
    return Error{ErrorKind::cannotRead, error, {}};
  return done;
}

Status writeFully(platform::NativeHandle file, std::span<const uint8_t> bytes, std::optional<uint64_t> offset) {
  if (platform::SystemError error = platform::writeFully(file, bytes, offset); error != 0)
    return Error{ErrorKind::cannotWrite, error, {}};
  return {};
}

}  // namespace oxtrel
