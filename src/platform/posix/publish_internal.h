#pragma once

// Pieces of publishing shared by the portable way and the fast one.

#include "platform/platform.h"

namespace oxtrel::platform::posix {

// A fresh hidden temporary name for this process, of a fixed short length, so a final name at
// the file system's length limit can still be written. One counter serves every publisher of the
// process, so threads publishing into the same directory never pick the same name.
void nameTemporary(const Publisher& publisher, char (&name)[64]);

}  // namespace oxtrel::platform::posix
