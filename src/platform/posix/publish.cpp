// Publishing extracted files on POSIX: a named temporary renamed over the final name, unless the
// system's faster way (fast::publishUnnamed) takes the file.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/fast_paths.h"
#include "platform/posix/publish_internal.h"

namespace oxtrel::platform {

namespace {

int fdOf(NativeHandle handle) { return static_cast<int>(handle); }

// The process id in a name that is exactly ".oxtrel-<pid>-<n>.tmp", as nameTemporary makes
// them; 0 for any other name.
uint64_t temporaryOwner(std::string_view name) {
  constexpr std::string_view kPrefix = ".oxtrel-", kSuffix = ".tmp";
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return 0;
  name = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == name.size()) return 0;
  if (!std::all_of(name.begin(), name.end(), [&](const char& c) { return isDigit(c) || &c == &name[dash]; })) return 0;
  uint64_t pid = 0;
  for (char c : name.substr(0, dash)) pid = pid * 10 + uint64_t(c - '0');
  return pid;
}

// A temporary's name is never the final name: a file published under a temporary-like name
// must not keep a mark naming it.
SystemError createTemporary(Publisher& publisher, int directory, const std::string& finalName, char (&name)[64],
                            File& file) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    posix::nameTemporary(publisher, name);
    if (finalName == name) continue;
    int fd = openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      file.reset(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

SystemError publishThroughTemporary(Publisher& publisher, int directory, const std::string& name,
                                    const Content& content) {
  char temporary[64];
  File file;
  if (SystemError error = createTemporary(publisher, directory, name, temporary, file); error != 0) return error;
  const bool marked = markTemporary(file.get(), temporary) == 0;
  SystemError error = fillFile(file.get(), content, publisher.options);
  // Unmarked before it is closed, so that the published file carries no mark; a run killed in
  // the instant before the rename leaves a temporary no sweep removes.
  if (marked) unmarkTemporary(file.get());
  SystemError closed = file.close();
  if (error == 0) error = closed;
  if (error == 0 && publisher.options.onTemporaryLinked) publisher.options.onTemporaryLinked();
  if (error == 0 && renameat(directory, temporary, directory, name.c_str()) != 0) error = errno;
  if (error != 0) unlinkat(directory, temporary, 0);
  return error;
}

// Copies through this process in blocks: for file pairs the system will not copy between.
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

void posix::nameTemporary(const Publisher& publisher, char (&name)[64]) {
  static std::atomic<uint64_t> temporaries{0};
  std::snprintf(name, sizeof name, ".oxtrel-%llu-%llu.tmp", static_cast<unsigned long long>(publisher.processId),
                static_cast<unsigned long long>(temporaries.fetch_add(1, std::memory_order_relaxed)));
}

Publisher makePublisher(const PublishOptions& options) { return {options, processId()}; }

SystemError publishFile(Publisher& publisher, NativeHandle directory, const std::string& name,
                        const Content& content) {
  if (publisher.options.unnamedFiles) {
    std::optional<SystemError> published = fast::publishUnnamed(publisher, fdOf(directory), name, content);
    if (published) return *published;
  }
  return publishThroughTemporary(publisher, fdOf(directory), name, content);
}

void sweepTemporaries(const Publisher& publisher, NativeHandle directory) {
  int listFd = openat(fdOf(directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* listing = fdopendir(listFd);
  if (!listing) {
    close(listFd);
    return;
  }
  while (const dirent* entry = readdir(listing)) {
    uint64_t owner = temporaryOwner(entry->d_name);
    if (owner != 0 && owner != publisher.processId && processGone(owner) &&
        isMarkedTemporary(directory, entry->d_name))
      unlinkat(fdOf(directory), entry->d_name, 0);
  }
  closedir(listing);
}

SystemError fillFile(NativeHandle file, const Content& content, PublishOptions& options) {
  if (content.writer) return content.writer->write(content.writer->context, file);
  if (!content.range) return writeFully(file, content.bytes, std::nullopt);
  FileRange rest = *content.range;
  if (options.copyInKernel) {
    std::optional<SystemError> copied = fast::copyRange(fdOf(file), rest, options);
    if (copied) return *copied;
  }
  return copyThroughMemory(file, rest);
}

SystemError copyRangeAt(NativeHandle file, uint64_t offset, const FileRange& range, PublishOptions& options) {
  FileRange rest = range;
  if (options.copyInKernel) {
    std::optional<SystemError> copied = fast::copyRange(fdOf(file), rest, options, &offset);
    if (copied) return *copied;
  }
  return copyThroughMemory(file, rest, offset);
}

}  // namespace oxtrel::platform
