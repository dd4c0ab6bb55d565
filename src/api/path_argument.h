#pragma once

// A path a caller hands the library goes to the system as a C string, which ends at its first
// NUL byte: "dir\0x" would quietly become "dir". Such a path is refused where it enters.

#include <string_view>

#include "common/result.h"

namespace oxtrel {

// invalidArgument naming what (say "archive path") when path holds a NUL byte.
Status checkPathArgument(std::string_view path, std::string_view what);

}  // namespace oxtrel
