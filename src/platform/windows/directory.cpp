// Directories on Windows: opened relative to their parent's handle, one component at a time,
// with the native call, so no reparse point on the way is followed unless asked.

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/windows_names.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

using windows::handleOf;
using windows::lastError;

namespace {

// What the walk needs of a directory: to open below it, to list it and to remove from it.
constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

constexpr NTSTATUS kNotFound = NTSTATUS(0xC0000034L);      // STATUS_OBJECT_NAME_NOT_FOUND
constexpr NTSTATUS kPathNotFound = NTSTATUS(0xC000003AL);  // STATUS_OBJECT_PATH_NOT_FOUND
constexpr NTSTATUS kCollision = NTSTATUS(0xC0000035L);     // STATUS_OBJECT_NAME_COLLISION

bool missing(NTSTATUS status) { return status == kNotFound || status == kPathNotFound; }

// Opens (or with FILE_CREATE makes) the directory name in parent. A reparse point at name is
// opened itself and refused (ELOOP) unless follow is set.
SystemError openChildOnce(HANDLE parent, const std::string& name, ULONG disposition, bool follow,
                          Directory& directory) {
  HANDLE opened = INVALID_HANDLE_VALUE;
  // Opening without FILE_DIRECTORY_FILE lets a file or a link at name be told apart afterwards.
  ULONG options = follow ? FILE_DIRECTORY_FILE : FILE_OPEN_REPARSE_POINT;
  if (disposition == FILE_CREATE) options |= FILE_DIRECTORY_FILE;
  NTSTATUS status = windows::openRelative(parent, name, kDirectoryAccess, disposition, options, opened);
  if (missing(status)) return ENOENT;
  if (status == kCollision) return EEXIST;
  if (!NT_SUCCESS(status)) return windows::errnoOfStatus(status);
  Directory result(windows::nativeOf(opened));
  windows::HandleKind kind;
  if (SystemError error = windows::kindOf(opened, kind); error != 0) return error;
  if (kind.reparsePoint && !follow) return ELOOP;
  if (!kind.directory) return ENOTDIR;
  directory = std::move(result);
  return 0;
}

SystemError openOrMake(HANDLE parent, const std::string& name, bool create, bool follow, Directory& directory) {
  if (!windows_names::componentAllowed(name)) return EINVAL;
  // The native call has no "." entry to open: the directory itself is a second handle to it.
  if (name.empty() || name == ".") {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), parent, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
      return lastError();
    directory.reset(windows::nativeOf(copy));
    return 0;
  }
  SystemError error = openChildOnce(parent, name, FILE_OPEN, follow, directory);
  if (error != ENOENT || !create) return error;
  error = openChildOnce(parent, name, FILE_CREATE, follow, directory);
  // Another thread or process made it first.
  if (error == EEXIST) error = openChildOnce(parent, name, FILE_OPEN, follow, directory);
  return error;
}

FileKind kindOfEntry(DWORD attributes, DWORD reparseTag) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (reparseTag == IO_REPARSE_TAG_SYMLINK || reparseTag == IO_REPARSE_TAG_MOUNT_POINT) return FileKind::symbolicLink;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::other;
  return FileKind::regular;
}

}  // namespace

// The working directory is opened once; a process that changes it later is not one of ours.
NativeHandle workingDirectory() {
  static const HANDLE working =
      CreateFileW(L".", kDirectoryAccess | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return windows::nativeOf(working);
}

SystemError openDirectory(const std::string& path, Directory& directory) {
  HANDLE handle = CreateFileW(windows::systemPath(path).c_str(), kDirectoryAccess | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastError();
  Directory opened(windows::nativeOf(handle));
  windows::HandleKind kind;
  if (SystemError error = windows::kindOf(handle, kind); error != 0) return error;
  if (!kind.directory) return ENOTDIR;
  directory = std::move(opened);
  return 0;
}

SystemError createDirectories(const std::string& path) {
  std::wstring system = windows::systemPath(path);
  if (CreateDirectoryW(system.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  DWORD error = GetLastError();
  if (error != ERROR_PATH_NOT_FOUND) return windows::errnoOf(error);
  // Its parent is missing: the path before its last component, without trailing separators.
  size_t end = path.find_last_not_of("/\\");
  std::string parent = end == std::string::npos ? std::string() : windows::parentOf(path.substr(0, end + 1));
  size_t last = parent.find_last_not_of("/\\");
  if (last == std::string::npos) return windows::errnoOf(error);
  parent.resize(last + 1);
  if (SystemError made = createDirectories(parent); made != 0) return made;
  if (CreateDirectoryW(system.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  return lastError();
}

SystemError openDirectoryAt(NativeHandle parent, const std::string& name, bool create, Directory& directory) {
  return openOrMake(handleOf(parent), name, create, true, directory);
}

SystemError openChild(NativeHandle parent, const std::string& name, bool create, Directory& directory) {
  return openOrMake(handleOf(parent), name, create, false, directory);
}

SystemError statusAt(NativeHandle directory, const std::string& name, FileStatus& status) {
  if (!windows_names::componentAllowed(name)) return EINVAL;
  HANDLE opened = INVALID_HANDLE_VALUE;
  NTSTATUS result = windows::openRelative(handleOf(directory), name, FILE_READ_ATTRIBUTES, FILE_OPEN,
                                          FILE_OPEN_REPARSE_POINT, opened);
  if (missing(result)) return ENOENT;
  if (!NT_SUCCESS(result)) return windows::errnoOfStatus(result);
  File file(windows::nativeOf(opened));
  FILE_ATTRIBUTE_TAG_INFO tag{};
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag) ||
      !GetFileInformationByHandle(opened, &info))
    return lastError();
  status.kind = kindOfEntry(tag.FileAttributes, tag.ReparseTag);
  status.size = status.kind == FileKind::regular ? (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow : 0;
  status.identity = {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

SystemError listDirectory(const std::string& path, bool followLink, std::vector<DirectoryEntry>& entries,
                          std::string& failedEntry) {
  failedEntry.clear();
  HANDLE handle = CreateFileW(windows::systemPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastError();
  Directory opened(windows::nativeOf(handle));
  windows::HandleKind kind;
  if (SystemError error = windows::kindOf(handle, kind); error != 0) return error;
  if (kind.reparsePoint && !followLink) return ELOOP;
  if (!kind.directory) return ENOTDIR;
  BY_HANDLE_FILE_INFORMATION self;
  if (!GetFileInformationByHandle(handle, &self)) return lastError();

  std::vector<uint64_t> block(64 * 1024 / sizeof(uint64_t));  // aligned for the records
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(handle, request, block.data(), DWORD(block.size() * sizeof(uint64_t)))) {
    request = FileIdBothDirectoryInfo;
    auto* record = reinterpret_cast<const uint8_t*>(block.data());
    for (;;) {
      const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
      std::u16string_view name(reinterpret_cast<const char16_t*>(info.FileName), info.FileNameLength / sizeof(WCHAR));
      if (name != u"." && name != u"..") {
        FileKind entryKind = kindOfEntry(info.FileAttributes, info.EaSize);  // EaSize holds the reparse tag
        uint64_t size = entryKind == FileKind::regular ? uint64_t(info.EndOfFile.QuadPart) : 0;
        entries.push_back({windows_names::encodeUtf8(name),
                           {entryKind, size, {self.dwVolumeSerialNumber, uint64_t(info.FileId.QuadPart)}}});
      }
      if (info.NextEntryOffset == 0) break;
      record += info.NextEntryOffset;
    }
  }
  DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? 0 : windows::errnoOf(error);
}

// The system's own upper-case table, as the file system folds names to compare them.
std::string_view nameKey(std::string_view name, std::string& buffer) {
  std::u16string text = windows_names::decode(name);
  std::u16string upper(text.size(), u'\0');
  int length = text.empty() ? 0
                            : LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, reinterpret_cast<LPCWSTR>(text.data()),
                                            int(text.size()), reinterpret_cast<LPWSTR>(upper.data()), int(upper.size()),
                                            nullptr, nullptr, 0);
  upper.resize(size_t(std::max(length, 0)));
  buffer = windows_names::encodeUtf8(length > 0 ? upper : text);
  return buffer;
}

bool nameAllowed(std::string_view name) { return windows_names::componentAllowed(name); }

}  // namespace oxtrel::platform
