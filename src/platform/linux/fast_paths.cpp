// Linux's faster calls, each with the portable way (in posix/) as its fallback:
//  - openat2 opens a directory below its parent in one call that refuses links (Linux 5.6; a
//    container's filter may refuse it too): probed once per process;
//  - O_TMPFILE makes a file without a name, linked under its name once written (Linux 3.11;
//    named by descriptor with AT_EMPTY_PATH, or through /proc/self/fd where that is refused);
//  - copy_file_range copies ranges inside the kernel (Linux 4.5, across file systems 5.3);
//  - memfd_create makes a file without a name whose bytes live in memory (Linux 3.17);
//  - mremap grows a mapping without touching its pages again; MADV_HUGEPAGE asks for huge pages;
//  - sched_getaffinity counts the CPUs this process may use.

#include <fcntl.h>
#include <linux/openat2.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/fast_paths.h"
#include "platform/posix/publish_internal.h"

namespace oxtrel::platform::fast {

namespace {

long callOpenat2(int parent, const char* name, uint64_t resolve) {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = resolve | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return syscall(SYS_openat2, parent, name, &how, sizeof how);
}

// Whether openat2 works here: a kernel without it answers ENOSYS, a filter EPERM or EACCES (or
// whatever it chooses). Asked once per process, on the root, which anyone may name.
bool haveOpenat2() {
  static const bool have = [] {
    if (!allowed()) return false;
    long fd = callOpenat2(AT_FDCWD, "/", 0);
    if (fd < 0) return false;
    close(int(fd));
    return true;
  }();
  return have;
}

// Gives the unnamed file fd the name `name` in directory; 0 or errno (EEXIST when the name is
// taken), EOPNOTSUPP once neither way of naming it is allowed.
SystemError linkUnnamed(PublishOptions& options, int fd, int directory, const char* name) {
  if (options.linkByDescriptor) {
    if (linkat(fd, "", directory, name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return errno;
    // Kernels that keep AT_EMPTY_PATH for privileged callers still follow the /proc link.
    options.linkByDescriptor = false;
  }
  if (options.linkThroughProc) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, link, directory, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    // No /proc (a container, a chroot), or one that may not be followed.
    if (errno != ENOENT && errno != EPERM && errno != EACCES) return errno;
    options.linkThroughProc = false;
  }
  return EOPNOTSUPP;
}

bool canNameUnnamed(const PublishOptions& options) { return options.linkByDescriptor || options.linkThroughProc; }

// Names the unnamed file fd `name` in directory, replacing what is there by linking it under a
// temporary name and renaming that over.
SystemError linkOver(Publisher& publisher, int fd, int directory, const char* name) {
  SystemError error = linkUnnamed(publisher.options, fd, directory, name);
  if (error != EEXIST) return error;
  char temporary[64];
  bool marked = false;
  for (int attempt = 0; attempt < 64 && error == EEXIST; ++attempt) {
    posix::nameTemporary(publisher, temporary);
    marked = markTemporary(fd, temporary) == 0;
    error = linkUnnamed(publisher.options, fd, directory, temporary);
  }
  if (error != 0) return error;
  if (publisher.options.onTemporaryLinked) publisher.options.onTemporaryLinked();
  if (renameat(directory, temporary, directory, name) == 0) {
    if (marked) unmarkTemporary(fd);
    return 0;
  }
  error = errno;
  unlinkat(directory, temporary, 0);
  return error;
}

}  // namespace

bool allowed() {
  static const bool fast = [] {
    const char* off = std::getenv("OXTREL_NO_FAST_PATHS");
    return !off || !*off || std::strcmp(off, "0") == 0;
  }();
  return fast;
}

std::optional<SystemError> openChildDirectory(int parent, const char* name, Directory& directory) {
  if (!haveOpenat2()) return std::nullopt;
  long fd = callOpenat2(parent, name, RESOLVE_BENEATH);
  if (fd < 0) return errno;
  directory.reset(fd);
  return 0;
}

std::optional<SystemError> publishUnnamed(Publisher& publisher, int directory, const std::string& name,
                                          const Content& content) {
  PublishOptions& options = publisher.options;
  File file;
  int fd = allowed() ? openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
  if (fd < 0) {
    // Older kernels ignore the flag they do not know and see a directory opened for writing.
    if (allowed() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    options.unnamedFiles = false;
    return std::nullopt;
  }
  file.reset(fd);
  SystemError error = fillFile(file.get(), content, options);
  if (error == 0) error = linkOver(publisher, fd, directory, name.c_str());
  SystemError closed = file.close();
  if (error == 0) error = closed;
  if (error != 0 && !canNameUnnamed(options)) {
    options.unnamedFiles = false;
    return std::nullopt;
  }
  return error;
}

std::optional<SystemError> copyRange(int file, FileRange& range, PublishOptions& options, uint64_t* at) {
  if (!allowed()) {
    options.copyInKernel = false;
    return std::nullopt;
  }
  while (range.length > 0) {
    loff_t from = loff_t(range.offset);
    loff_t to = at ? loff_t(*at) : 0;
    ssize_t n = copy_file_range(int(range.file), &from, file, at ? &to : nullptr,
                                size_t(std::min<uint64_t>(range.length, 1u << 30)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      options.copyInKernel = false;  // this pair of file systems, or this kernel: not possible
      return std::nullopt;
    }
    if (n <= 0) return n == 0 ? EIO : errno;
    range.offset += uint64_t(n);
    range.length -= uint64_t(n);
    if (at) *at += uint64_t(n);
  }
  return 0;
}

std::optional<SystemError> createMemoryFile(File& file) {
  if (!allowed()) return std::nullopt;
  int fd = memfd_create("oxtrel-archive", MFD_CLOEXEC);
  // A kernel without it, or a filter refusing it: the temporary directory serves.
  if (fd < 0) return std::nullopt;
  file.reset(fd);
  return 0;
}

bool remap(uint8_t* old, size_t oldLength, size_t length, uint8_t*& grown) {
  if (!allowed()) return false;
  void* moved = mremap(old, oldLength, length, MREMAP_MAYMOVE);
  grown = moved == MAP_FAILED ? nullptr : static_cast<uint8_t*>(moved);
  return true;
}

void adviseHugePages(uint8_t* bytes, size_t length) {
  if (allowed()) madvise(bytes, length, MADV_HUGEPAGE);
}

unsigned affinityCpus() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  // The mask cannot be read on machines with more CPUs than cpu_set_t holds: those have plenty.
  return sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? unsigned(CPU_COUNT(&cpus)) : 0;
}

}  // namespace oxtrel::platform::fast
