// Systems without faster calls: every request takes the portable way.

#include "platform/posix/fast_paths.h"

namespace oxtrel::platform::fast {

bool allowed() { return false; }

std::optional<SystemError> openChildDirectory(int, const char*, Directory&) { return std::nullopt; }

std::optional<SystemError> publishUnnamed(Publisher& publisher, int, const std::string&, const Content&) {
  publisher.options.unnamedFiles = false;
  return std::nullopt;
}

std::optional<SystemError> copyRange(int, FileRange&, PublishOptions& options, uint64_t*) {
  options.copyInKernel = false;
  return std::nullopt;
}

std::optional<SystemError> createMemoryFile(File&) { return std::nullopt; }

bool remap(uint8_t*, size_t, size_t, uint8_t*&) { return false; }

void adviseHugePages(uint8_t*, size_t) {}

unsigned affinityCpus() { return 0; }

}  // namespace oxtrel::platform::fast
