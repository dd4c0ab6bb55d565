// Publishing extracted files on Windows: a hidden temporary made beside the final name, filled,
// then renamed over the name through its own handle (the rename replaces atomically, and
// replaces a link or junction standing there rather than following it).

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/windows_names.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

using windows::handleOf;

namespace {

// A fresh hidden temporary name for this process, of a fixed short length, so a final name at
// the file system's length limit can still be written. One counter serves every publisher of
// the process, so threads publishing into the same directory never pick the same name.
std::string nameTemporary(const Publisher& publisher) {
  static std::atomic<uint64_t> temporaries{0};
  char name[64];
  std::snprintf(name, sizeof name, ".oxtrel-%llu-%llu.tmp", static_cast<unsigned long long>(publisher.processId),
                static_cast<unsigned long long>(temporaries.fetch_add(1, std::memory_order_relaxed)));
  return name;
}

SystemError createTemporary(Publisher& publisher, HANDLE directory, File& file) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    HANDLE opened = INVALID_HANDLE_VALUE;
    NTSTATUS status = windows::openRelative(directory, nameTemporary(publisher), GENERIC_WRITE | DELETE, FILE_CREATE,
                                            FILE_NON_DIRECTORY_FILE, opened);
    if (NT_SUCCESS(status)) {
      file.reset(windows::nativeOf(opened));
      return 0;
    }
    if (status != NTSTATUS(0xC0000035L)) return windows::errnoOfStatus(status);  // STATUS_OBJECT_NAME_COLLISION
  }
  return EEXIST;
}

// Renames the open file to name in directory, replacing what stands there.
SystemError renameOver(HANDLE file, HANDLE directory, const std::string& name) {
  std::u16string text = windows_names::decode(name);
  std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFORMATION) + text.size() * sizeof(char16_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = directory;
  info->FileNameLength = ULONG(text.size() * sizeof(char16_t));
  std::copy(text.begin(), text.end(), reinterpret_cast<char16_t*>(info->FileName));
  IO_STATUS_BLOCK io{};
  NTSTATUS status = NtSetInformationFile(file, &io, info, ULONG(buffer.size()), FileRenameInformation);
  if (NT_SUCCESS(status)) return 0;
  SystemError error = windows::errnoOfStatus(status);
  // A directory at the name refuses the rename as access denied; say what POSIX says.
  if (error == EACCES || error == EISDIR) {
    Directory there;
    if (openChild(windows::nativeOf(directory), name, false, there) == 0) return EISDIR;
  }
  return error;
}

void discard(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Copies through this process in blocks: Windows has no call that copies a range between files.
SystemError copyThroughMemory(NativeHandle file, FileRange source, std::optional<uint64_t> at = std::nullopt) {
  std::vector<uint8_t> block(size_t(std::min<uint64_t>(source.length, 1 << 20)));
  while (source.length > 0) {
    std::span<uint8_t> chunk(block.data(), size_t(std::min<uint64_t>(source.length, block.size())));
    size_t got = 0;
    if (SystemError error = readFully(source.file, chunk, source.offset, got); error != 0) return error;
    if (got < chunk.size()) return EIO;
    if (SystemError error = writeFully(file, chunk, at); error != 0) return error;
    if (at) *at += chunk.size();
    source.offset += chunk.size();
    source.length -= chunk.size();
  }
  return 0;
}

}  // namespace

Publisher makePublisher(const PublishOptions& options) { return {options, processId()}; }

SystemError publishFile(Publisher& publisher, NativeHandle directory, const std::string& name,
                        const Content& content) {
  if (!windows_names::componentAllowed(name)) return EINVAL;
  File file;
  if (SystemError error = createTemporary(publisher, handleOf(directory), file); error != 0) return error;
  SystemError error = fillFile(file.get(), content, publisher.options);
  if (error == 0 && publisher.options.onTemporaryLinked) publisher.options.onTemporaryLinked();
  if (error == 0) error = renameOver(handleOf(file.get()), handleOf(directory), name);
  if (error != 0) discard(handleOf(file.get()));
  SystemError closed = file.close();
  return error != 0 ? error : closed;
}

// Temporaries are not marked here (see markTemporary), so a sweep finds none it may remove: a
// killed run's temporary stays, and the file under the final name is the whole older one.
void sweepTemporaries(const Publisher&, NativeHandle) {}

// Windows keeps no mark with a file that every file system and Wine carry (an alternate data
// stream would need NTFS), so temporaries go unmarked.
SystemError markTemporary(NativeHandle, const std::string&) { return ENOTSUP; }

void unmarkTemporary(NativeHandle) {}

bool isMarkedTemporary(NativeHandle, const std::string&) { return false; }

SystemError fillFile(NativeHandle file, const Content& content, PublishOptions&) {
  if (content.writer) return content.writer->write(content.writer->context, file);
  if (!content.range) return writeFully(file, content.bytes, std::nullopt);
  return copyThroughMemory(file, *content.range);
}

SystemError copyRangeAt(NativeHandle file, uint64_t offset, const FileRange& range, PublishOptions&) {
  return copyThroughMemory(file, range, offset);
}

}  // namespace oxtrel::platform
