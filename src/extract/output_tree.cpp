#include "extract/output_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace oxtrel {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Opens one existing directory entry below parent, refusing a symbolic link in its place.
int openChildDirectory(int parent, const std::string& name) {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return int(syscall(SYS_openat2, parent, name.c_str(), &how, sizeof how));
}

enum class DirStatus { ok, missing, unsafe, failed };

struct DirLookup {
  DirStatus status = DirStatus::ok;
  int fd = -1;  // owned by the tree when ok
  int error = 0;
  OpenDirectory* entry = nullptr;  // the tree's cache entry holding fd, when ok below `data`
};

DirLookup failure(int error) {
  if (error == ELOOP || error == EXDEV) return {DirStatus::unsafe, -1, error};
  return {DirStatus::failed, -1, error};
}

// `data` may itself be a symbolic link: the user put it there, so it is followed.
DirLookup openData(OutputTree& tree, bool create) {
  if (tree.dataFd >= 0) return {DirStatus::ok, tree.dataFd, 0};
  int fd = openat(tree.parentFd, "data", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (!create) return {DirStatus::missing, -1, ENOENT};
    if (mkdirat(tree.parentFd, "data", 0777) != 0 && errno != EEXIST) return {DirStatus::failed, -1, errno};
    fd = openat(tree.parentFd, "data", O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) return {DirStatus::failed, -1, errno};
  tree.dataFd = fd;
  return {DirStatus::ok, fd, 0};
}

std::string directoryKey(const OutputPath& path) {
  std::string key;
  for (std::string_view d : path.directories) {
    key.append(d);
    key.push_back('/');
  }
  return key;
}

// Whether key is directoryKey(path), without building it: asked twice per entry.
bool isDirectoryKey(const OutputPath& path, std::string_view key) {
  for (std::string_view d : path.directories) {
    if (key.size() <= d.size() || key.substr(0, d.size()) != d || key[d.size()] != '/') return false;
    key.remove_prefix(d.size() + 1);
  }
  return key.empty();
}

// Walks the path's directories one component at a time from `data`, making the missing ones when
// create is set. Only a missing component is ever made, so no directory is asked for twice.
DirLookup openDirectory(OutputTree& tree, const OutputPath& path, bool create) {
  for (OpenDirectory& open : tree.openDirs) {
    if (open.fd >= 0 && isDirectoryKey(path, open.key)) {
      open.lastUse = ++tree.directoryUses;
      return {DirStatus::ok, open.fd, 0, &open};
    }
  }

  DirLookup data = openData(tree, create);
  if (data.status != DirStatus::ok) return data;

  int fd = fcntl(tree.dataFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return failure(errno);
  std::string name;
  for (std::string_view component : path.directories) {
    name.assign(component);
    int next = openChildDirectory(fd, name);
    if (next < 0 && errno == ENOENT) {
      if (!create) {
        close(fd);
        return {DirStatus::missing, -1, ENOENT};
      }
      if (mkdirat(fd, name.c_str(), 0777) == 0 || errno == EEXIST) next = openChildDirectory(fd, name);
    }
    int error = errno;
    close(fd);
    if (next < 0) return failure(error);
    fd = next;
  }
  OpenDirectory& slot = *std::min_element(tree.openDirs.begin(), tree.openDirs.end(),
                                           [](const OpenDirectory& a, const OpenDirectory& b) { return a.lastUse < b.lastUse; });
  if (slot.fd >= 0) close(slot.fd);
  slot = {directoryKey(path), fd, ++tree.directoryUses, false};
  return {DirStatus::ok, fd, 0, &slot};
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

// Removes the temporaries of processes that are gone (killed before they could clean up) from a
// directory this run is about to write into; once per directory and run. Best effort: a directory
// that cannot be listed is written all the same.
void sweepLeftovers(OutputTree& tree, OpenDirectory& dir) {
  if (dir.swept) return;
  dir.swept = true;
  if (!tree.sweptKeys.insert(dir.key).second) return;
  int listFd = openat(dir.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* listing = fdopendir(listFd);
  if (!listing) {
    close(listFd);
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    pid_t owner = temporaryOwner(entry->d_name);
    if (owner != 0 && owner != tree.pid && kill(owner, 0) != 0 && errno == ESRCH)
      unlinkat(dir.fd, entry->d_name, 0);
  }
  closedir(listing);
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes = bytes.subspan(size_t(n));
  }
  return true;
}

// The bytes of a file being written: in memory, or a range of another file.
struct Content {
  std::span<const uint8_t> bytes;
  const FileRange* range = nullptr;
};

// Copies through this process in blocks: for file pairs the kernel will not copy between.
bool copyThroughBuffer(int fd, FileRange source) {
  std::vector<uint8_t> block(size_t(std::min<uint64_t>(source.length, 1 << 20)));
  while (source.length > 0) {
    size_t n = size_t(std::min<uint64_t>(source.length, block.size()));
    ssize_t got = pread(source.fd, block.data(), n, off_t(source.offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    if (!writeAll(fd, {block.data(), size_t(got)})) return false;
    source.offset += uint64_t(got);
    source.length -= uint64_t(got);
  }
  return true;
}

bool copyAll(OutputTree& tree, int fd, FileRange source) {
  while (tree.copyInKernel && source.length > 0) {
    loff_t from = loff_t(source.offset);
    ssize_t n = copy_file_range(source.fd, &from, fd, nullptr, size_t(std::min<uint64_t>(source.length, 1u << 30)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      tree.copyInKernel = false;  // this pair of file systems, or this kernel: not possible
      break;
    }
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    source.offset += uint64_t(n);
    source.length -= uint64_t(n);
  }
  return copyThroughBuffer(fd, source);
}

bool fill(OutputTree& tree, int fd, const Content& content) {
  return content.range ? copyAll(tree, fd, *content.range) : writeAll(fd, content.bytes);
}

// The temporary's name has a fixed short length, so a final name at the file system's length
// limit can still be written.
void nameTemporary(OutputTree& tree, char (&name)[64]) {
  std::snprintf(name, sizeof name, ".oxtrel-%d-%llu.tmp", tree.pid, (unsigned long long)tree.temporaries++);
}

int createTemporary(OutputTree& tree, int dirFd, char (&name)[64]) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    nameTemporary(tree, name);
    int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Gives the unnamed file fd the name `name` in dirFd; 0 or errno (EEXIST when the name is taken).
int linkUnnamed(OutputTree& tree, int fd, int dirFd, const char* name) {
  if (tree.linkByDescriptor) {
    if (linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return errno;
    // Kernels that keep AT_EMPTY_PATH for privileged callers still follow the /proc link.
    tree.linkByDescriptor = false;
  }
  if (tree.linkThroughProc) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, link, dirFd, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    // No /proc (a container, a chroot), or one that may not be followed.
    if (errno != ENOENT && errno != EPERM && errno != EACCES) return errno;
    tree.linkThroughProc = false;
  }
  return EOPNOTSUPP;
}

bool canNameUnnamed(const OutputTree& tree) { return tree.linkByDescriptor || tree.linkThroughProc; }

// Names the unnamed file fd `name` in dirFd, replacing what is there (a file or a symbolic link;
// a directory is refused) by linking it under a temporary name and renaming that over.
int publishUnnamed(OutputTree& tree, int fd, int dirFd, const char* name) {
  int error = linkUnnamed(tree, fd, dirFd, name);
  if (error != EEXIST) return error;
  char temporary[64];
  for (int attempt = 0; attempt < 64 && error == EEXIST; ++attempt) {
    nameTemporary(tree, temporary);
    error = linkUnnamed(tree, fd, dirFd, temporary);
  }
  if (error != 0) return error;
  if (tree.onTemporaryLinked) tree.onTemporaryLinked();
  if (renameat(dirFd, temporary, dirFd, name) == 0) return 0;
  error = errno;
  unlinkat(dirFd, temporary, 0);
  return error;
}

// Writes bytes into a new unnamed file and publishes it; nullopt when the file system cannot
// make unnamed files, so that the caller falls back to a named temporary.
std::optional<WriteResult> writeUnnamed(OutputTree& tree, int dirFd, const std::string& name,
                                        const Content& content) {
  int fd = openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return WriteResult{WriteStatus::failed, errno};
    tree.unnamedFiles = false;
    return std::nullopt;
  }
  int error = fill(tree, fd, content) ? publishUnnamed(tree, fd, dirFd, name.c_str()) : errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0 && !canNameUnnamed(tree)) {
    tree.unnamedFiles = false;
    return std::nullopt;
  }
  if (error != 0) return WriteResult{WriteStatus::failed, error};
  return WriteResult{WriteStatus::ok, 0};
}

WriteResult writeNamedTemporary(OutputTree& tree, int dirFd, const std::string& name, const Content& content) {
  char temporary[64];
  int fd = createTemporary(tree, dirFd, temporary);
  if (fd < 0) return {WriteStatus::failed, errno};
  bool written = fill(tree, fd, content);
  int error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && tree.onTemporaryLinked) tree.onTemporaryLinked();
  if (written && renameat(dirFd, temporary, dirFd, name.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (written) return {WriteStatus::ok, 0};
  unlinkat(dirFd, temporary, 0);
  return {WriteStatus::failed, error};
}

}  // namespace

OutputPath splitOutputPath(std::string_view relative) {
  OutputPath path;
  size_t start = 0;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && !isSeparator(relative[i])) continue;
    std::string_view component = relative.substr(start, i - start);
    if (component == "..") path.hasDotDot = true;
    if (i == relative.size()) {
      path.fileName = component;
    } else if (!component.empty()) {
      path.directories.push_back(component);
    }
    start = i + 1;
  }
  return path;
}

OutputTree makeOutputTree(int parentFd) {
  OutputTree tree;
  tree.parentFd = parentFd;
  tree.pid = int(getpid());
  return tree;
}

void closeOutputTree(OutputTree& tree) {
  for (OpenDirectory& open : tree.openDirs)
    if (open.fd >= 0) close(open.fd);
  if (tree.dataFd >= 0) close(tree.dataFd);
  tree.openDirs = {};
  tree.dataFd = -1;
}

WriteStatus checkOutputPath(OutputTree& tree, const OutputPath& path) {
  if (path.hasDotDot) return WriteStatus::unsafe;
  return openDirectory(tree, path, false).status == DirStatus::unsafe ? WriteStatus::unsafe : WriteStatus::ok;
}

namespace {

WriteResult writeContent(OutputTree& tree, const OutputPath& path, const Content& content) {
  if (path.hasDotDot) return {WriteStatus::unsafe, 0};
  // A path ending in a separator names a directory, not a file.
  if (path.fileName.empty()) return {WriteStatus::failed, EISDIR};
  DirLookup dir = openDirectory(tree, path, true);
  if (dir.status == DirStatus::unsafe) return {WriteStatus::unsafe, 0};
  if (dir.status != DirStatus::ok) return {WriteStatus::failed, dir.error};
  sweepLeftovers(tree, *dir.entry);

  std::string name(path.fileName);
  if (tree.unnamedFiles) {
    std::optional<WriteResult> result = writeUnnamed(tree, dir.fd, name, content);
    if (result) return *result;
  }
  return writeNamedTemporary(tree, dir.fd, name, content);
}

}  // namespace

WriteResult writeOutputFile(OutputTree& tree, const OutputPath& path, std::span<const uint8_t> bytes) {
  return writeContent(tree, path, {bytes, nullptr});
}

WriteResult copyOutputFile(OutputTree& tree, const OutputPath& path, const FileRange& source) {
  return writeContent(tree, path, {{}, &source});
}

}  // namespace oxtrel
