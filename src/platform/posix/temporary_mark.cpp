// The temporary mark on POSIX: an extended attribute in the user namespace.

#include <sys/xattr.h>

#include <cstring>

#include "platform/platform.h"

namespace oxtrel::platform {

namespace {

constexpr char kMarkAttribute[] = "user.oxtrel.temporary";
constexpr char kMarkValue[] = "oxtrel";

}  // namespace

void markTemporary(NativeHandle file) {
  fsetxattr(int(file), kMarkAttribute, kMarkValue, sizeof kMarkValue - 1, 0);
}

bool carriesTemporaryMark(NativeHandle file) {
  char value[sizeof kMarkValue] = {};
  ssize_t length = fgetxattr(int(file), kMarkAttribute, value, sizeof value);
  return length == ssize_t(sizeof kMarkValue - 1) && std::memcmp(value, kMarkValue, sizeof kMarkValue - 1) == 0;
}

}  // namespace oxtrel::platform
