#pragma once

// Pieces shared by the Windows implementation of the platform layer: handles, error codes, and
// names and paths in the system's UTF-16.

#include <windows.h>
#include <winternl.h>

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace oxtrel::platform::windows {

inline HANDLE handleOf(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline NativeHandle nativeOf(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

// The errno value nearest to a Win32 error code, or to an NTSTATUS.
SystemError errnoOf(DWORD win32Error);
SystemError errnoOfStatus(NTSTATUS status);
inline SystemError lastError() { return errnoOf(GetLastError()); }

// A path for the Win32 calls: absolute, in the \\?\ form, so that no length limit applies and no
// component is rewritten (trailing dots and spaces kept, '/' read as a separator).
std::wstring systemPath(const std::string& path);

// The directory part of a path ("" when it has none), '/' and '\' both separating.
std::string parentOf(const std::string& path);

// Opens name (one component, UTF-8 or Windows-1252 bytes) relative to the directory parent with
// the native call, so that nothing but that one entry is looked up. options are NtCreateFile's
// create options; FILE_OPEN_REPARSE_POINT among them opens a reparse point itself instead of
// what it points at.
NTSTATUS openRelative(HANDLE parent, std::string_view name, ACCESS_MASK access, ULONG disposition, ULONG options,
                      HANDLE& opened);

// Whether an open handle is a reparse point (a symbolic link, a junction, a mount point), and
// whether it is a directory.
struct HandleKind {
  bool reparsePoint = false;
  bool directory = false;
};
SystemError kindOf(HANDLE handle, HandleKind& kind);

}  // namespace oxtrel::platform::windows
