#include "platform/windows/windows_system.h"

#include <cerrno>
#include <vector>

#include "platform/windows/windows_names.h"

namespace oxtrel::platform::windows {

SystemError errnoOf(DWORD win32Error) {
  switch (win32Error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_DELETE_PENDING: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return ENAMETOOLONG;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_CANT_RESOLVE_FILENAME:
    case 681:  // ERROR_STOPPED_ON_SYMLINK
      return ELOOP;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    default: return EIO;
  }
}

SystemError errnoOfStatus(NTSTATUS status) {
  // The one the Win32 layer would turn into "a file stands in the way", for a directory asked.
  if (status == NTSTATUS(0xC0000103L)) return ENOTDIR;  // STATUS_NOT_A_DIRECTORY
  if (status == NTSTATUS(0xC00000BAL)) return EISDIR;   // STATUS_FILE_IS_A_DIRECTORY
  return errnoOf(RtlNtStatusToDosError(status));
}

std::wstring systemPath(const std::string& path) {
  std::u16string text = windows_names::decode(path.empty() ? std::string_view(".") : std::string_view(path));
  std::wstring wide(text.begin(), text.end());
  if (wide.starts_with(L"\\\\?\\")) return wide;
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return wide;
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  full.resize(length);
  if (full.starts_with(L"\\\\.\\")) return full;  // a device, as given
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string parentOf(const std::string& path) {
  size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

NTSTATUS openRelative(HANDLE parent, std::string_view name, ACCESS_MASK access, ULONG disposition, ULONG options,
                      HANDLE& opened) {
  std::u16string text = windows_names::decode(name);
  if (text.size() * sizeof(char16_t) > 0xFFFE) return NTSTATUS(0xC0000106L);  // STATUS_NAME_TOO_LONG
  UNICODE_STRING unicode;
  unicode.Buffer = reinterpret_cast<PWSTR>(text.data());
  unicode.Length = USHORT(text.size() * sizeof(char16_t));
  unicode.MaximumLength = unicode.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK io{};
  return NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

SystemError kindOf(HANDLE handle, HandleKind& kind) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) return lastError();
  kind.reparsePoint = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  kind.directory = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return 0;
}

}  // namespace oxtrel::platform::windows
