#pragma once

// Conversions shared by the POSIX files.

#include <sys/stat.h>

#include "platform/platform.h"

namespace oxtrel::platform::posix {

FileStatus statusFrom(const struct stat& st);

}  // namespace oxtrel::platform::posix
