#pragma once

// Writes extracted files below a `data` directory, never outside it.
//
// An entry's relative path (folder name + '\' + file name, with '\' and '/' both separating
// components) is refused as unsafe when a component is "..", or when an existing component below
// `data` is a symbolic link (`data` itself may be one). A symbolic link standing at the file's
// own name is replaced, never written through. A file is written unnamed (O_TMPFILE) in its
// destination directory and linked under its final name once complete; when that name is taken
// it is linked under a short hidden temporary name and renamed over it; file systems without
// unnamed files get the temporary name from the start, and so do all files once neither way of
// naming an unnamed file is allowed. Either way a failed or killed run never leaves a partial file
// under a final name. The first time a run writes into an existing directory it removes the
// temporaries there whose process is gone (a run killed outright leaves its own behind).

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace oxtrel {

struct OutputPath {
  std::vector<std::string_view> directories;  // non-empty components below `data`
  std::string_view fileName;                  // text after the last separator; may be empty
  bool hasDotDot = false;
};

// Splits relative (the part of the output path after "data\") at both separators.
OutputPath splitOutputPath(std::string_view relative);

struct OpenDirectory {
  std::string key;  // its directories below `data`, each followed by '/'
  int fd = -1;
  uint64_t lastUse = 0;
  bool swept = false;  // leftover temporaries removed (or known to be) since it was opened
};

struct OutputTree {
  int parentFd = -1;        // the directory that holds `data`
  int dataFd = -1;          // opened on first use
  // Entries come folder by folder, but may alternate between a few folders (siblings, or two deep
  // ones): the least recently used of these is the one closed, so no switch walks a path again.
  std::array<OpenDirectory, 4> openDirs;
  uint64_t directoryUses = 0;
  std::unordered_set<std::string> sweptKeys;  // directories already swept by this run
  uint64_t temporaries = 0;
  int pid = 0;             // in temporary names
  bool unnamedFiles = true;      // cleared once the file system refuses O_TMPFILE
  bool linkByDescriptor = true;  // cleared once the kernel refuses linkat(AT_EMPTY_PATH)
  bool linkThroughProc = true;   // cleared once /proc/self/fd cannot be linked from either
  bool copyInKernel = true;      // cleared once copy_file_range is refused for these files
  // Called just before a temporary is renamed to its final name, while a temporary name stands
  // in the directory: lets tests interrupt a run there.
  void (*onTemporaryLinked)() = nullptr;
};

// parentFd (AT_FDCWD for the working directory) must stay open while the tree is used.
OutputTree makeOutputTree(int parentFd);
void closeOutputTree(OutputTree& tree);

enum class WriteStatus { ok, unsafe, failed };

struct WriteResult {
  WriteStatus status = WriteStatus::ok;
  int error = 0;  // errno when failed
};

// Without side effects: unsafe when the path has a ".." component or passes through a symbolic
// link that already exists below `data`.
WriteStatus checkOutputPath(OutputTree& tree, const OutputPath& path);

// Creates the missing directories and writes bytes atomically at path. A link that appears
// between the check and the write is still refused (unsafe).
WriteResult writeOutputFile(OutputTree& tree, const OutputPath& path, std::span<const uint8_t> bytes);

// length bytes of the open file fd from offset.
struct FileRange {
  int fd = -1;
  uint64_t offset = 0;
  uint64_t length = 0;
};

// As writeOutputFile, with the bytes taken from source: copied inside the kernel
// (copy_file_range), or read and written in blocks where the file systems do not allow that.
// A source that ends early fails with EIO.
WriteResult copyOutputFile(OutputTree& tree, const OutputPath& path, const FileRange& source);

}  // namespace oxtrel
