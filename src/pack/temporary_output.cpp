#include "pack/temporary_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/full_io.h"

namespace oxtrel {

namespace {

constexpr char kTemporaryPrefix[] = ".oxtrel-pack-";

// A symbolic link loop, as the system counts it.
constexpr int kMaxLinksFollowed = 40;

Error cannotWrite(const TemporaryOutput& output, int error) {
  return {ErrorKind::cannotWrite, error, "'" + output.finalPath + "'"};
}

Error notRegular(const TemporaryOutput& output) {
  return {ErrorKind::cannotWrite, 0, "'" + output.finalPath + "': not a regular file"};
}

void discard(TemporaryOutput& output) {
  if (!output.fd.valid()) return;
  output.fd.reset();
  unlink(output.temporaryPath.c_str());
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Follows symbolic links from path, each relative target taken from its link's directory.
// The target may be missing: the archive is then made there, as cp would.
int followLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops <= kMaxLinksFollowed; ++hops) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(st.st_mode)) return 0;
    std::string link(size_t(st.st_size) + 1, '\0');
    ssize_t length = readlink(target.c_str(), link.data(), link.size());
    if (length < 0) return errno;
    // A link that grew since lstat is read again.
    if (size_t(length) == link.size()) {
      --hops;
      continue;
    }
    link.resize(size_t(length));
    target = link.starts_with('/') ? link : directoryOf(target) + link;
  }
  return ELOOP;
}

// A temporary carries this extended attribute from its creation: only oxtrel sets it, so a
// file that merely has such a name is never taken for a temporary. A file system that keeps no
// extended attributes gets unmarked temporaries, which are then never swept.
constexpr char kMarkAttribute[] = "user.oxtrel.temporary";
constexpr char kMarkValue[] = "oxtrel-pack";

void markTemporary(int fd) { fsetxattr(fd, kMarkAttribute, kMarkValue, sizeof kMarkValue - 1, 0); }

bool carriesMark(int fd) {
  char value[sizeof kMarkValue] = {};
  ssize_t length = fgetxattr(fd, kMarkAttribute, value, sizeof value);
  return length == ssize_t(sizeof kMarkValue - 1) && std::memcmp(value, kMarkValue, size_t(length)) == 0;
}

// A run holds an exclusive lock on its temporary until it ends, and the system drops the lock
// when the process dies however it dies: a marked temporary that can be locked is a dead run's.
// Best effort: what cannot be opened, checked or locked is left alone.
void sweepDeadTemporaries(const std::string& directory) {
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return;
  while (const dirent* d = readdir(dir)) {
    if (std::strncmp(d->d_name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0) continue;
    UniqueFd fd(openat(dirfd(dir), d->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened, named;
    if (!fd.valid() || fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || !carriesMark(fd.get()) ||
        flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
      continue;
    // The name must still be the file checked, not one put in its place meanwhile.
    if (fstatat(dirfd(dir), d->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
      unlinkat(dirfd(dir), d->d_name, 0);
  }
  closedir(dir);
}

}  // namespace

TemporaryOutput::~TemporaryOutput() { discard(*this); }

Status createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output) {
  output.finalPath = finalPath;
  if (int error = followLinks(finalPath, output.targetPath); error != 0) return cannotWrite(output, error);
  struct stat st;
  if (stat(output.targetPath.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return notRegular(output);
    output.replaced = ReplacedFile{mode_t(st.st_mode & 07777), st.st_uid, st.st_gid};
  }
  std::string directory = directoryOf(output.targetPath);
  sweepDeadTemporaries(directory);
  output.temporaryPath = directory + kTemporaryPrefix + "XXXXXX";
  output.fd.reset(mkostemp(output.temporaryPath.data(), O_CLOEXEC));
  if (!output.fd.valid()) return cannotWrite(output, errno);
  if (flock(output.fd.get(), LOCK_EX | LOCK_NB) != 0) {
    Error failure = cannotWrite(output, errno);
    discard(output);
    return failure;
  }
  markTemporary(output.fd.get());
  return {};
}

Status writeOutputAt(TemporaryOutput& output, uint64_t offset, const uint8_t* bytes, size_t length) {
  Status written = writeFully(output.fd.get(), {bytes, length}, offset);
  if (!written) return cannotWrite(output, written.error().systemError);
  return {};
}

Status commitOutput(TemporaryOutput& output) {
  mode_t mask = umask(0);
  umask(mask);
  mode_t permissions = output.replaced ? output.replaced->permissions : 0666 & ~mask;
  // The owner first: a change of owner clears the set-user-ID and set-group-ID bits.
  bool kept = !(output.replaced && geteuid() == 0) ||
              fchown(output.fd.get(), output.replaced->owner, output.replaced->group) == 0;
  if (!kept || fchmod(output.fd.get(), permissions) != 0 || fsync(output.fd.get()) != 0) {
    Error failure = cannotWrite(output, errno);
    discard(output);
    return failure;
  }
  // Something may have been put at the target since the run began; a rename would replace it.
  struct stat st;
  if (lstat(output.targetPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    discard(output);
    return notRegular(output);
  }
  // Renamed while still open and locked, so no other run's sweep can take it for a dead one's.
  if (rename(output.temporaryPath.c_str(), output.targetPath.c_str()) != 0) {
    Error failure = cannotWrite(output, errno);
    discard(output);
    return failure;
  }
  if (int closed = output.fd.close(); closed != 0) return cannotWrite(output, closed);
  return {};
}

}  // namespace oxtrel
