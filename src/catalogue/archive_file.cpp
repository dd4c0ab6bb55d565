#include "catalogue/archive_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxtrel {

OpenArchiveResult archiveFromDescriptor(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return {{}, errno};
  if (S_ISDIR(st.st_mode)) return {{}, EISDIR};
  if (!S_ISREG(st.st_mode)) return {{}, EINVAL};
  return {{fd, uint64_t(st.st_size)}, 0};
}

OpenArchiveResult openArchive(const char* path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {{}, errno};
  OpenArchiveResult r = archiveFromDescriptor(fd);
  if (r.error != 0) close(fd);
  return r;
}

void closeArchive(ArchiveFile& file) {
  if (file.fd >= 0) close(file.fd);
  file = {};
}

bool readAt(const ArchiveFile& file, uint64_t offset, uint8_t* dst, size_t length) {
  while (length > 0) {
    ssize_t n = pread(file.fd, dst, length, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    dst += n;
    offset += uint64_t(n);
    length -= size_t(n);
  }
  return true;
}

}  // namespace oxtrel
