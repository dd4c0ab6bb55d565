#pragma once

// Finds every regular file below a directory, without following symbolic links.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/platform.h"

namespace oxtrel {

// A payload of an existing archive, taken over byte for byte: never inflated nor compressed again.
struct KeptPayload {
  platform::NativeHandle archive = platform::kNoHandle;  // open for reading; outlives the write
  uint32_t offset = 0;
  uint32_t size = 0;  // stored bytes
};

struct ScannedFile {
  std::string name;   // the directory entry's bytes
  std::string path;   // the path it is opened by: the scanned directory's path, '/', relative path
  uint64_t size = 0;  // as seen during the scan; the writer reads the size again when it packs
  // A file given in memory rather than on disk: its bytes, owned by the caller; path only names it.
  std::optional<std::span<const uint8_t>> contents{};
  // An entry kept from an archive being updated: its payload, copied as stored; path names it.
  std::optional<KeptPayload> kept{};
};

struct ScannedDirectory {
  std::string path;                     // as for ScannedFile
  std::vector<std::string> components;  // its path below the scanned directory; empty for that one
  std::vector<ScannedFile> files;       // in byte order of their names
};

using platform::FileIdentity;

struct TreeScan {
  std::vector<ScannedDirectory> directories;  // only those that hold regular files
  std::vector<std::string> skipped;           // "<path>: <why>" for each entry that is not packed
};

// Walks everything below directory (which is itself followed when it is a link). Symbolic links
// below it are never followed; they, FIFOs, sockets and devices are listed in skipped. The file
// whose identity is exclude, if any, is passed over silently: it is the archive being replaced.
// Fails as cannotRead when a directory or an entry's status cannot be read, and as stopped when
// *stop (if given) holds a value other than 0 between directories.
Result<TreeScan> scanTree(const std::string& directory, std::optional<FileIdentity> exclude,
                          const std::atomic<int>* stop = nullptr);

}  // namespace oxtrel
