// Directories on POSIX: opened relative to their parent, one component at a time.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/fast_paths.h"
#include "platform/posix/posix_status.h"

namespace oxtrel::platform {

namespace {

// A handle that only names a directory (no permission to read it is needed) where the system
// has such handles.
#ifdef O_PATH
constexpr int kLocate = O_PATH;
#else
constexpr int kLocate = O_RDONLY;
#endif

int fdOf(NativeHandle handle) { return static_cast<int>(handle); }

// The portable way: the entry is opened without following a link at it, then checked. One
// component, so no link on the way can be followed either.
SystemError openChildPortably(int parent, const char* name, Directory& directory) {
  int fd = openat(parent, name, kLocate | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  SystemError error = fstat(fd, &st) != 0 ? errno : S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (error != 0) {
    close(fd);
    return error;
  }
  directory.reset(fd);
  return 0;
}

SystemError openChildOnce(int parent, const char* name, Directory& directory) {
  if (std::optional<SystemError> opened = fast::openChildDirectory(parent, name, directory)) return *opened;
  return openChildPortably(parent, name, directory);
}

SystemError openFollowing(int parent, const char* name, Directory& directory) {
  int fd = openat(parent, name, kLocate | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  directory.reset(fd);
  return 0;
}

}  // namespace

NativeHandle workingDirectory() { return AT_FDCWD; }

SystemError openDirectory(const std::string& path, Directory& directory) {
  return openFollowing(AT_FDCWD, path.c_str(), directory);
}

SystemError createDirectories(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return 0;
  if (errno != ENOENT) return errno;
  // Its parent is missing: the path up to the last separator before its last component.
  size_t end = path.find_last_not_of('/');
  size_t separator = end == std::string::npos ? std::string::npos : path.find_last_of('/', end);
  if (separator == std::string::npos) return ENOENT;
  if (SystemError error = createDirectories(path.substr(0, separator == 0 ? 1 : separator)); error != 0) return error;
  return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST ? 0 : errno;
}

SystemError openDirectoryAt(NativeHandle parent, const std::string& name, bool create, Directory& directory) {
  SystemError error = openFollowing(fdOf(parent), name.c_str(), directory);
  if (error != ENOENT || !create) return error;
  if (mkdirat(fdOf(parent), name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return openFollowing(fdOf(parent), name.c_str(), directory);
}

// Only a missing directory is made, so no directory is asked for twice.
SystemError openChild(NativeHandle parent, const std::string& name, bool create, Directory& directory) {
  SystemError error = openChildOnce(fdOf(parent), name.c_str(), directory);
  if (error != ENOENT || !create) return error;
  if (mkdirat(fdOf(parent), name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return openChildOnce(fdOf(parent), name.c_str(), directory);
}

SystemError statusAt(NativeHandle directory, const std::string& name, FileStatus& status) {
  struct stat st;
  if (fstatat(fdOf(directory), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  status = posix::statusFrom(st);
  return 0;
}

SystemError listDirectory(const std::string& path, bool followLink, std::vector<DirectoryEntry>& entries,
                          std::string& failedEntry) {
  failedEntry.clear();
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (!dir) {
    SystemError error = errno;
    if (fd >= 0) close(fd);
    return error;
  }
  SystemError error = 0;
  errno = 0;
  while (const dirent* d = readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
      failedEntry = d->d_name;
      break;
    }
    entries.push_back({d->d_name, posix::statusFrom(st)});
    errno = 0;
  }
  if (error == 0 && errno != 0) error = errno;
  closedir(dir);
  return error;
}

std::string_view nameKey(std::string_view name, std::string&) { return name; }

bool nameAllowed(std::string_view) { return true; }

}  // namespace oxtrel::platform
