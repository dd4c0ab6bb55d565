#pragma once

// Opens the directory an entry goes into, component by component below `data`, never through a
// symbolic link, and keeps the last one open: entries come folder by folder, so one open
// directory serves a run.

#include <string>

#include "common/result.h"
#include "extract/output_path.h"
#include "io/unique_fd.h"

namespace oxtrel {

struct DirectoryCache {
  int parentFd = -1;       // the directory that holds `data`; not owned
  UniqueFd dataFd;         // opened on first use
  UniqueFd openDirFd;
  std::string openDirKey;  // directories of openDirFd, each followed by '/'
};

// The descriptor (owned by the cache, valid until the next call) of path's directory, made with
// its missing parents when create is set. Failures: unsafePath when a component is a symbolic
// link (`data` itself may be one), else cannotWrite with errno (ENOENT for a missing component
// when create is not set).
Result<int> openDirectory(DirectoryCache& cache, const OutputPath& path, bool create);

}  // namespace oxtrel
