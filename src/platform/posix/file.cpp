// Files and positional transfers on POSIX.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/fast_paths.h"
#include "platform/posix/posix_status.h"

namespace oxtrel::platform {

namespace {

int fdOf(NativeHandle handle) { return static_cast<int>(handle); }

// Calls transfer(done) until length bytes are moved, it returns 0, or it fails with other than
// EINTR. done is the count moved; the result 0 or errno.
template <class Transfer>
SystemError transferFully(size_t length, size_t& done, Transfer transfer) {
  done = 0;
  while (done < length) {
    ssize_t n = transfer(done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    done += size_t(n);
  }
  return 0;
}

}  // namespace

FileStatus posix::statusFrom(const struct stat& st) {
  FileKind kind = S_ISREG(st.st_mode)   ? FileKind::regular
                  : S_ISDIR(st.st_mode) ? FileKind::directory
                  : S_ISLNK(st.st_mode) ? FileKind::symbolicLink
                                        : FileKind::other;
  return {kind, uint64_t(st.st_size), {uint64_t(st.st_dev), uint64_t(st.st_ino)}};
}

SystemError closeHandle(NativeHandle handle) { return ::close(fdOf(handle)) == 0 ? 0 : errno; }

SystemError openForReading(const std::string& path, bool noFollow, File& file) {
  // O_NONBLOCK keeps a FIFO from blocking the open; the caller refuses it by its kind.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
  if (fd < 0) return errno;
  file.reset(fd);
  return 0;
}

SystemError statusOf(NativeHandle file, FileStatus& status) {
  struct stat st;
  if (fstat(fdOf(file), &st) != 0) return errno;
  status = posix::statusFrom(st);
  return 0;
}

SystemError statusOfPath(const std::string& path, FileStatus& status) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno;
  status = posix::statusFrom(st);
  return 0;
}

SystemError readFully(NativeHandle file, std::span<uint8_t> dst, std::optional<uint64_t> offset, size_t& done) {
  return transferFully(dst.size(), done, [&](size_t from) {
    std::span<uint8_t> rest = dst.subspan(from);
    return offset ? pread(fdOf(file), rest.data(), rest.size(), off_t(*offset + from))
                  : read(fdOf(file), rest.data(), rest.size());
  });
}

SystemError writeFully(NativeHandle file, std::span<const uint8_t> bytes, std::optional<uint64_t> offset) {
  size_t done = 0;
  SystemError error = transferFully(bytes.size(), done, [&](size_t from) {
    std::span<const uint8_t> rest = bytes.subspan(from);
    return offset ? pwrite(fdOf(file), rest.data(), rest.size(), off_t(*offset + from))
                  : write(fdOf(file), rest.data(), rest.size());
  });
  if (error != 0) return error;
  // A write that moves nothing without an error would loop forever; report it as the device's.
  return done < bytes.size() ? EIO : 0;
}

void adviseSequential(NativeHandle file) {
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fdOf(file), 0, 0, POSIX_FADV_SEQUENTIAL);
#else
  static_cast<void>(file);
#endif
}

SystemError createAnonymousFile(File& file) {
  if (std::optional<SystemError> made = fast::createMemoryFile(file)) return *made;
  const char* directory = std::getenv("TMPDIR");
  std::string pattern = std::string(directory && *directory ? directory : "/tmp") + "/.oxtrel-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) return errno;
  file.reset(fd);
  // The name goes at once: the file lives as long as its descriptor.
  unlink(pattern.c_str());
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return errno;
  return 0;
}

SystemError duplicateDescriptor(int fd, File& file) {
  int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return errno;
  file.reset(copy);
  return 0;
}

}  // namespace oxtrel::platform
