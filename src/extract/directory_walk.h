#pragma once

// Opens the directory an entry goes into, component by component below `data`, never through a
// symbolic link, and keeps the last few open: entries come folder by folder, but may alternate
// between a few folders (siblings, or two deep ones), and no such switch should walk a path again.

#include <array>
#include <cstdint>
#include <string>

#include "common/result.h"
#include "extract/output_path.h"
#include "platform/platform.h"

namespace oxtrel {

struct OpenDirectory {
  std::string key;  // its directories below `data`, each followed by '/'
  platform::Directory handle;
  uint64_t lastUse = 0;
  bool swept = false;  // leftover temporaries removed (or known to be) since it was opened
};

struct DirectoryCache {
  platform::NativeHandle parent = platform::kNoHandle;  // the directory that holds `data`; not owned
  platform::Directory data;                             // opened on first use
  std::array<OpenDirectory, 4> openDirs;  // the least recently used one is closed for a new one
  uint64_t uses = 0;
};

// The cache entry (valid until the next call) holding the handle of path's directory, made
// with its missing parents when create is set. Failures: unsafePath when a component is a symbolic
// link (`data` itself may be one), else cannotWrite with errno (ENOENT for a missing component
// when create is not set).
Result<OpenDirectory*> openDirectory(DirectoryCache& cache, const OutputPath& path, bool create);

}  // namespace oxtrel
