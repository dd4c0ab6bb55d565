// Systems where oxtrel does not mark temporaries: none is ever swept, a real file is never lost.

#include <cerrno>

#include "platform/platform.h"

namespace oxtrel::platform {

SystemError markTemporary(NativeHandle, const std::string&) { return ENOTSUP; }

void unmarkTemporary(NativeHandle) {}

bool isMarkedTemporary(NativeHandle, const std::string&) { return false; }

}  // namespace oxtrel::platform
