// Replacing a file by path on POSIX: a hidden temporary beside it, renamed over it.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_status.h"

namespace oxtrel::platform {

namespace {

constexpr char kTemporaryPrefix[] = ".oxtrel-pack-";

// The system's own limit on the links one path may pass through.
constexpr int kMaxLinksFollowed = 40;

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// A run holds an exclusive lock on its temporary until it ends, and the system drops the lock
// when the process dies, however it dies: a temporary marked with its own name that can be
// locked is a dead run's.
// Best effort: what cannot be opened, checked or locked is left alone.
void sweepDeadTemporaries(const std::string& directory) {
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return;
  while (const dirent* d = readdir(dir)) {
    if (std::strncmp(d->d_name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0) continue;
    File candidate(openat(dirfd(dir), d->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    int fd = int(candidate.get());
    struct stat opened, named;
    if (!candidate.valid() || fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        !isMarkedTemporary(dirfd(dir), d->d_name) || flock(fd, LOCK_EX | LOCK_NB) != 0)
      continue;
    // The name must still be the file checked, not one put in its place meanwhile.
    if (fstatat(dirfd(dir), d->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
      unlinkat(dirfd(dir), d->d_name, 0);
  }
  closedir(dir);
}

}  // namespace

SystemError findReplaceTarget(const std::string& path, ReplaceTarget& target) {
  target = ReplaceTarget{};
  target.path = path;
  for (int hops = 0; hops <= kMaxLinksFollowed; ++hops) {
    struct stat st;
    if (lstat(target.path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(st.st_mode)) {
      FileStatus status = posix::statusFrom(st);
      target.exists = true;
      target.kind = status.kind;
      target.identity = status.identity;
      target.permissions = st.st_mode & 07777;
      target.owner = st.st_uid;
      target.group = st.st_gid;
      return 0;
    }
    std::string link(size_t(st.st_size) + 1, '\0');
    ssize_t length = readlink(target.path.c_str(), link.data(), link.size());
    if (length < 0) return errno;
    if (size_t(length) == link.size()) return ENAMETOOLONG;  // the link grew since lstat
    link.resize(size_t(length));
    target.path = link.starts_with('/') ? link : directoryOf(target.path) + link;
  }
  return ELOOP;
}

SystemError createTemporaryBeside(const std::string& finalPath, std::string& temporaryPath, File& file) {
  std::string directory = directoryOf(finalPath);
  sweepDeadTemporaries(directory);
  temporaryPath = directory + kTemporaryPrefix + "XXXXXX";
  int fd = mkostemp(temporaryPath.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  file.reset(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    SystemError error = errno;
    file.reset();
    unlink(temporaryPath.c_str());
    return error;
  }
  // Unmarked where files cannot be marked: such a temporary is never swept.
  markTemporary(file.get(), temporaryPath.substr(directory.size()));
  return 0;
}

SystemError commitTemporary(File& file, const std::string& temporaryPath, const ReplaceTarget& target) {
  int fd = int(file.get());
  mode_t mask = umask(0);
  umask(mask);
  bool keep = target.exists && target.kind == FileKind::regular;
  SystemError error = 0;
  // The owner first: a change of owner clears the set-user-ID and set-group-ID bits.
  if (keep && geteuid() == 0 && fchown(fd, uid_t(target.owner), gid_t(target.group)) != 0) error = errno;
  if (error == 0 && fchmod(fd, keep ? mode_t(target.permissions) : 0666 & ~mask) != 0) error = errno;
  // The archive keeps no trace of having been a temporary.
  if (error == 0) unmarkTemporary(file.get());
  if (error == 0 && fsync(fd) != 0) error = errno;
  // Renamed while still open and locked, so no other run's sweep can take it for a dead one's.
  if (error == 0 && rename(temporaryPath.c_str(), target.path.c_str()) != 0) error = errno;
  if (error != 0) {
    file.reset();
    unlink(temporaryPath.c_str());
    return error;
  }
  return file.close();
}

void removeFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace oxtrel::platform
