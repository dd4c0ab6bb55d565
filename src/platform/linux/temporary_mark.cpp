// Temporaries are marked with an extended attribute in the user namespace, which any file
// system with extended attributes keeps (ext4, xfs, btrfs, tmpfs since Linux 6.6) and which an
// archive cannot set: extraction writes contents, never attributes.

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace oxtrel::platform {

namespace {

constexpr const char* kMark = "user.oxtrel.temporary";

int fdOf(NativeHandle handle) { return static_cast<int>(handle); }

}  // namespace

SystemError markTemporary(NativeHandle file, const std::string& name) {
  return fsetxattr(fdOf(file), kMark, name.data(), name.size(), 0) == 0 ? 0 : errno;
}

void unmarkTemporary(NativeHandle file) { fremovexattr(fdOf(file), kMark); }

bool isMarkedTemporary(NativeHandle directory, const std::string& name) {
  // O_NONBLOCK: a FIFO given such a name must not hang the sweep.
  int fd = openat(fdOf(directory), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  char value[256];
  ssize_t length = fgetxattr(fd, kMark, value, sizeof value);
  close(fd);
  return length >= 0 && size_t(length) == name.size() && std::memcmp(value, name.data(), name.size()) == 0;
}

}  // namespace oxtrel::platform
