// Replacing a file by path on Windows (the packer's output): a hidden temporary beside it,
// flushed, then moved over it in one rename that replaces.

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

// Symbolic links are not followed here: what stands at path itself is described.
SystemError findReplaceTarget(const std::string& path, ReplaceTarget& target) {
  target = ReplaceTarget{};
  target.path = path;
  FileStatus status;
  SystemError error = statusOfPath(path, status);
  if (error == ENOENT) return 0;
  if (error != 0) return error;
  target.exists = true;
  target.kind = status.kind;
  target.identity = status.identity;
  return 0;
}

SystemError createTemporaryBeside(const std::string& finalPath, std::string& temporaryPath, File& file) {
  static std::atomic<uint32_t> temporaries{0};
  for (int attempt = 0; attempt < 64; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, ".oxtrel-pack-%lu-%lu", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(temporaries.fetch_add(1) ^ GetTickCount()));
    temporaryPath = windows::parentOf(finalPath) + name;
    HANDLE handle = CreateFileW(windows::systemPath(temporaryPath).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      file.reset(windows::nativeOf(handle));
      return 0;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return windows::lastError();
  }
  return EEXIST;
}

SystemError commitTemporary(File& file, const std::string& temporaryPath, const ReplaceTarget& target) {
  const std::string& finalPath = target.path;
  SystemError error = FlushFileBuffers(windows::handleOf(file.get())) ? 0 : windows::lastError();
  SystemError closed = file.close();
  if (error == 0) error = closed;
  std::wstring temporary = windows::systemPath(temporaryPath);
  if (error == 0 && !MoveFileExW(temporary.c_str(), windows::systemPath(finalPath).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = windows::lastError();
  if (error != 0) DeleteFileW(temporary.c_str());
  return error;
}

void removeFile(const std::string& path) { DeleteFileW(windows::systemPath(path).c_str()); }

}  // namespace oxtrel::platform
