#include "io/positional_file.h"

#include <cerrno>

#include "io/full_io.h"

namespace oxtrel {

Result<PositionalFile> positionalFileFrom(platform::File file) {
  platform::FileStatus status;
  if (platform::SystemError error = platform::statusOf(file.get(), status); error != 0)
    return Error{ErrorKind::cannotOpen, error, {}};
  if (status.kind == platform::FileKind::directory) return Error{ErrorKind::cannotOpen, EISDIR, {}};
  if (status.kind != platform::FileKind::regular) return Error{ErrorKind::cannotOpen, EINVAL, {}};
  return PositionalFile{std::move(file), status.size};
}

Result<PositionalFile> openPositionalFile(const char* path, bool noFollow) {
  platform::File file;
  if (platform::SystemError error = platform::openForReading(path, noFollow, file); error != 0)
    return Error{ErrorKind::cannotOpen, error, path};
  Result<PositionalFile> opened = positionalFileFrom(std::move(file));
  if (!opened) opened.error().where = path;
  return opened;
}

Status readAt(const PositionalFile& file, uint64_t offset, std::span<uint8_t> dst) {
  Result<size_t> got = readFully(file.file.get(), dst, offset);
  if (!got) return std::move(got.error());
  if (*got < dst.size()) return Error{ErrorKind::cannotRead, 0, {}};
  return {};
}

}  // namespace oxtrel
