#include "extract/atomic_publish.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>

#include "io/unique_fd.h"

namespace oxtrel {

namespace {

Error cannotWrite(int error) { return {ErrorKind::cannotWrite, error, {}}; }

// The temporary's name has a fixed short length, so a final name at the file system's length
// limit can still be written. One counter serves every publisher of the process, so threads
// publishing into the same directory never pick the same name.
void nameTemporary(const Publisher& publisher, char (&name)[64]) {
  static std::atomic<uint64_t> temporaries{0};
  std::snprintf(name, sizeof name, ".oxtrel-%d-%llu.tmp", publisher.pid,
                static_cast<unsigned long long>(temporaries.fetch_add(1, std::memory_order_relaxed)));
}

// The pid in a name that is exactly ".oxtrel-<pid>-<n>.tmp", as nameTemporary makes them; 0 for
// any other name.
pid_t temporaryOwner(std::string_view name) {
  constexpr std::string_view kPrefix = ".oxtrel-", kSuffix = ".tmp";
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return 0;
  name = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == name.size()) return 0;
  if (!std::all_of(name.begin(), name.end(), [&](const char& c) { return isDigit(c) || &c == &name[dash]; })) return 0;
  pid_t pid = 0;
  for (char c : name.substr(0, dash)) pid = pid * 10 + (c - '0');
  return pid;
}

UniqueFd createTemporary(Publisher& publisher, int dirFd, char (&name)[64]) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    nameTemporary(publisher, name);
    int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return UniqueFd(fd);
  }
  errno = EEXIST;
  return UniqueFd();
}

// Gives the unnamed file fd the name `name` in dirFd; 0 or errno (EEXIST when the name is taken).
int linkUnnamed(Publisher& publisher, int fd, int dirFd, const char* name) {
  if (publisher.options.linkByDescriptor) {
    if (linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return errno;
    // Kernels that keep AT_EMPTY_PATH for privileged callers still follow the /proc link.
    publisher.options.linkByDescriptor = false;
  }
  if (publisher.options.linkThroughProc) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, link, dirFd, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    // No /proc (a container, a chroot), or one that may not be followed.
    if (errno != ENOENT && errno != EPERM && errno != EACCES) return errno;
    publisher.options.linkThroughProc = false;
  }
  return EOPNOTSUPP;
}

bool canNameUnnamed(const OutputOptions& options) { return options.linkByDescriptor || options.linkThroughProc; }

// Names the unnamed file fd `name` in dirFd, replacing what is there by linking it under a
// temporary name and renaming that over.
int linkOver(Publisher& publisher, int fd, int dirFd, const char* name) {
  int error = linkUnnamed(publisher, fd, dirFd, name);
  if (error != EEXIST) return error;
  char temporary[64];
  for (int attempt = 0; attempt < 64 && error == EEXIST; ++attempt) {
    nameTemporary(publisher, temporary);
    error = linkUnnamed(publisher, fd, dirFd, temporary);
  }
  if (error != 0) return error;
  if (publisher.options.onTemporaryLinked) publisher.options.onTemporaryLinked();
  if (renameat(dirFd, temporary, dirFd, name) == 0) return 0;
  error = errno;
  unlinkat(dirFd, temporary, 0);
  return error;
}

// Writes content into a new unnamed file and names it; nullopt when the file system cannot make
// unnamed files or the system cannot name them, so that the caller falls back to a named
// temporary.
std::optional<Status> publishUnnamed(Publisher& publisher, int dirFd, const std::string& name,
                                     const Content& content) {
  UniqueFd fd(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (!fd.valid()) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Status(cannotWrite(errno));
    publisher.options.unnamedFiles = false;
    return std::nullopt;
  }
  Status filled = fillFile(fd.get(), content, publisher.options.copyInKernel);
  int error = filled ? linkOver(publisher, fd.get(), dirFd, name.c_str()) : filled.error().systemError;
  int closed = fd.close();
  if (error == 0) error = closed;
  if (error != 0 && !canNameUnnamed(publisher.options)) {
    publisher.options.unnamedFiles = false;
    return std::nullopt;
  }
  if (error != 0) return Status(cannotWrite(error));
  return Status();
}

Status publishThroughTemporary(Publisher& publisher, int dirFd, const std::string& name, const Content& content) {
  char temporary[64];
  UniqueFd fd = createTemporary(publisher, dirFd, temporary);
  if (!fd.valid()) return cannotWrite(errno);
  Status filled = fillFile(fd.get(), content, publisher.options.copyInKernel);
  int error = filled ? 0 : filled.error().systemError;
  int closed = fd.close();
  if (error == 0) error = closed;
  if (error == 0 && publisher.options.onTemporaryLinked) publisher.options.onTemporaryLinked();
  if (error == 0 && renameat(dirFd, temporary, dirFd, name.c_str()) != 0) error = errno;
  if (error == 0) return {};
  unlinkat(dirFd, temporary, 0);
  return cannotWrite(error);
}

}  // namespace

Publisher makePublisher(const OutputOptions& options) { return {options, int(getpid())}; }

Status publishFile(Publisher& publisher, int dirFd, const std::string& name, const Content& content) {
  if (publisher.options.unnamedFiles) {
    std::optional<Status> published = publishUnnamed(publisher, dirFd, name, content);
    if (published) return std::move(*published);
  }
  return publishThroughTemporary(publisher, dirFd, name, content);
}

void removeDeadTemporaries(const Publisher& publisher, int dirFd) {
  int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* listing = fdopendir(listFd);
  if (!listing) {
    close(listFd);
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    pid_t owner = temporaryOwner(entry->d_name);
    if (owner != 0 && owner != publisher.pid && kill(owner, 0) != 0 && errno == ESRCH)
      unlinkat(dirFd, entry->d_name, 0);
  }
  closedir(listing);
}

}  // namespace oxtrel
