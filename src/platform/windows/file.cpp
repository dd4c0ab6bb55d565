// Files and positional transfers on Windows.

#include <io.h>

#include <algorithm>
#include <cerrno>

#include "platform/platform.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

using windows::handleOf;
using windows::lastError;

namespace {

// One call moves at most this much: the calls take a 32-bit count.
constexpr size_t kLargestTransfer = size_t(1) << 30;

OVERLAPPED at(uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = DWORD(offset & 0xFFFFFFFFu);
  position.OffsetHigh = DWORD(offset >> 32);
  return position;
}

SystemError statusFromInformation(HANDLE handle, bool reparseIsLink, FileStatus& status) {
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    status = {FileKind::other, 0, {}};
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return lastError();
  FileKind kind = reparseIsLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileKind::symbolicLink
                  : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)                    ? FileKind::directory
                                                                                          : FileKind::regular;
  status.kind = kind;
  status.size = kind == FileKind::regular ? (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow : 0;
  status.identity = {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

}  // namespace

SystemError closeHandle(NativeHandle handle) { return CloseHandle(handleOf(handle)) ? 0 : lastError(); }

SystemError openForReading(const std::string& path, bool noFollow, File& file) {
  // Directories open too (as on POSIX): the caller refuses them by their kind.
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle = CreateFileW(windows::systemPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastError();
  File opened(windows::nativeOf(handle));
  if (noFollow) {
    windows::HandleKind kind;
    if (SystemError error = windows::kindOf(handle, kind); error != 0) return error;
    if (kind.reparsePoint) return ELOOP;
  }
  file = std::move(opened);
  return 0;
}

SystemError statusOf(NativeHandle file, FileStatus& status) {
  return statusFromInformation(handleOf(file), false, status);
}

SystemError statusOfPath(const std::string& path, FileStatus& status) {
  HANDLE handle = CreateFileW(windows::systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return lastError();
  File opened(windows::nativeOf(handle));
  return statusFromInformation(handle, true, status);
}

SystemError readFully(NativeHandle file, std::span<uint8_t> dst, std::optional<uint64_t> offset, size_t& done) {
  done = 0;
  while (done < dst.size()) {
    DWORD want = DWORD(std::min(dst.size() - done, kLargestTransfer));
    DWORD got = 0;
    OVERLAPPED position = at(offset.value_or(0) + done);
    if (!ReadFile(handleOf(file), dst.data() + done, want, &got, offset ? &position : nullptr)) {
      DWORD error = GetLastError();
      // The end of the file, or of a pipe whose writer is gone.
      if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) break;
      return windows::errnoOf(error);
    }
    if (got == 0) break;
    done += got;
  }
  return 0;
}

SystemError writeFully(NativeHandle file, std::span<const uint8_t> bytes, std::optional<uint64_t> offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD want = DWORD(std::min(bytes.size() - done, kLargestTransfer));
    DWORD put = 0;
    OVERLAPPED position = at(offset.value_or(0) + done);
    if (!WriteFile(handleOf(file), bytes.data() + done, want, &put, offset ? &position : nullptr)) return lastError();
    // A write that moves nothing without an error would loop forever; report it as the device's.
    if (put == 0) return EIO;
    done += put;
  }
  return 0;
}

SystemError createAnonymousFile(File& file) {
  wchar_t directory[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, directory);
  if (length == 0 || length > MAX_PATH) return lastError();
  wchar_t path[MAX_PATH + 1];
  // Makes the file under a fresh name; it is opened again below to go when its handle closes.
  if (GetTempFileNameW(directory, L"oxt", 0, path) == 0) return lastError();
  HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SystemError error = lastError();
    DeleteFileW(path);
    return error;
  }
  file.reset(windows::nativeOf(handle));
  return 0;
}

SystemError duplicateDescriptor(int fd, File& file) {
  intptr_t borrowed = _get_osfhandle(fd);
  if (borrowed == -1 || borrowed == -2) return EBADF;
  // A file object of its own, so reads by offset leave the caller's position where it was; a
  // handle that cannot be opened again (not a file on disk) is duplicated as it is.
  HANDLE handle = ReOpenFile(reinterpret_cast<HANDLE>(borrowed), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (handle == INVALID_HANDLE_VALUE &&
      !DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(borrowed), GetCurrentProcess(), &handle, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return lastError();
  file.reset(windows::nativeOf(handle));
  return 0;
}

// Windows takes this advice only when a file is opened; the cache manager reads ahead anyway.
void adviseSequential(NativeHandle) {}

}  // namespace oxtrel::platform
