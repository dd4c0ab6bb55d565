#pragma once

// Publishes a finished file under its name atomically, so a failed or killed run never leaves a
// partial file under a final name. The file is written unnamed (O_TMPFILE) in its directory and
// linked under its name once complete; when that name is taken it is linked under a short hidden
// temporary name and renamed over it; file systems without unnamed files get the temporary name
// from the start, and so do all files once neither way of naming an unnamed file is allowed. What
// stood at the name (a file or a symbolic link) is replaced, never written through; a directory
// there is refused. A run killed outright leaves its temporaries behind: the next run removes
// them (removeDeadTemporaries).

#include <cstdint>
#include <string>

#include "common/result.h"
#include "extract/byte_copy.h"

namespace oxtrel {

// The fallbacks of a file system or kernel that refuses something. Each is cleared at the first
// refusal, so a run asks once; tests start with them cleared to exercise the fallback paths.
struct OutputOptions {
  bool unnamedFiles = true;      // O_TMPFILE
  bool linkByDescriptor = true;  // linkat(AT_EMPTY_PATH); else through /proc/self/fd
  bool linkThroughProc = true;   // linkat of /proc/self/fd/N; without either, named temporaries
  bool copyInKernel = true;      // copy_file_range
  // Called just before a temporary is renamed to its final name, while a temporary name stands
  // in the directory: lets tests interrupt a run there.
  void (*onTemporaryLinked)() = nullptr;
};

struct Publisher {
  OutputOptions options;
  int pid = 0;  // in temporary names
};

Publisher makePublisher(const OutputOptions& options);

// Writes content into a new file published as name in the directory dirFd. Failures are
// cannotWrite with errno (EISDIR when a directory holds the name).
Status publishFile(Publisher& publisher, int dirFd, const std::string& name, const Content& content);

// Removes from the directory dirFd the temporaries of processes that are gone (killed before they
// could clean up). Best effort: a directory that cannot be listed is left as it is.
void removeDeadTemporaries(const Publisher& publisher, int dirFd);

}  // namespace oxtrel
