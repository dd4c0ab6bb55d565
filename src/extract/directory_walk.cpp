#include "extract/directory_walk.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "catalogue/entry_path.h"

namespace oxtrel {

namespace {

// Opens one existing directory entry below parent, refusing a symbolic link in its place.
int openChildDirectory(int parent, const std::string& name) {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return int(syscall(SYS_openat2, parent, name.c_str(), &how, sizeof how));
}

Error failure(int error) {
  if (error == ELOOP || error == EXDEV) return {ErrorKind::unsafePath, error, {}};
  return {ErrorKind::cannotWrite, error, {}};
}

// `data` may itself be a symbolic link: the user put it there, so it is followed.
Result<int> openData(DirectoryCache& cache, bool create) {
  if (cache.dataFd.valid()) return cache.dataFd.get();
  int fd = openat(cache.parentFd, kDataRoot, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (!create) return Error{ErrorKind::cannotWrite, ENOENT, {}};
    if (mkdirat(cache.parentFd, kDataRoot, 0777) != 0 && errno != EEXIST) return Error{ErrorKind::cannotWrite, errno, {}};
    fd = openat(cache.parentFd, kDataRoot, O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) return Error{ErrorKind::cannotWrite, errno, {}};
  cache.dataFd.reset(fd);
  return fd;
}

void makeDirectoryKey(const OutputPath& path, std::string& key) {
  key.clear();
  for (std::string_view d : path.directories) key.append(d).push_back('/');
}

// Whether key is the directory key of path, without building it: asked twice per entry.
bool isDirectoryKey(const OutputPath& path, std::string_view key) {
  for (std::string_view d : path.directories) {
    if (key.size() <= d.size() || key.substr(0, d.size()) != d || key[d.size()] != '/') return false;
    key.remove_prefix(d.size() + 1);
  }
  return key.empty();
}

}  // namespace

// Only a missing component is ever made, so no directory is asked for twice.
Result<OpenDirectory*> openDirectory(DirectoryCache& cache, const OutputPath& path, bool create) {
  for (OpenDirectory& open : cache.openDirs) {
    if (open.fd.valid() && isDirectoryKey(path, open.key)) {
      open.lastUse = ++cache.uses;
      return &open;
    }
  }

  Result<int> data = openData(cache, create);
  if (!data) return std::move(data.error());

  UniqueFd fd(fcntl(*data, F_DUPFD_CLOEXEC, 0));
  if (!fd.valid()) return failure(errno);
  std::string name;
  for (std::string_view component : path.directories) {
    name.assign(component);
    int next = openChildDirectory(fd.get(), name);
    if (next < 0 && errno == ENOENT) {
      if (!create) return Error{ErrorKind::cannotWrite, ENOENT, {}};
      if (mkdirat(fd.get(), name.c_str(), 0777) == 0 || errno == EEXIST) next = openChildDirectory(fd.get(), name);
    }
    if (next < 0) return failure(errno);
    fd.reset(next);
  }
  OpenDirectory& slot = *std::min_element(cache.openDirs.begin(), cache.openDirs.end(),
                                           [](const OpenDirectory& a, const OpenDirectory& b) { return a.lastUse < b.lastUse; });
  slot.fd = std::move(fd);
  makeDirectoryKey(path, slot.key);
  slot.lastUse = ++cache.uses;
  slot.swept = false;
  return &slot;
}

}  // namespace oxtrel
