#include "io/positional_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "io/full_io.h"

namespace oxtrel {

Result<PositionalFile> positionalFileFrom(UniqueFd fd) {
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return Error{ErrorKind::cannotOpen, errno, {}};
  if (S_ISDIR(st.st_mode)) return Error{ErrorKind::cannotOpen, EISDIR, {}};
  if (!S_ISREG(st.st_mode)) return Error{ErrorKind::cannotOpen, EINVAL, {}};
  return PositionalFile{std::move(fd), uint64_t(st.st_size)};
}

Result<PositionalFile> openPositionalFile(const char* path, bool noFollow) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0)));
  if (!fd.valid()) return Error{ErrorKind::cannotOpen, errno, path};
  Result<PositionalFile> file = positionalFileFrom(std::move(fd));
  if (!file) file.error().where = path;
  return file;
}

Status readAt(const PositionalFile& file, uint64_t offset, std::span<uint8_t> dst) {
  Result<size_t> got = readFully(file.fd.get(), dst, offset);
  if (!got) return std::move(got.error());
  if (*got < dst.size()) return Error{ErrorKind::cannotRead, 0, {}};
  return {};
}

}  // namespace oxtrel
