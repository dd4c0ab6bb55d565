#pragma once

// Scratch directories and whole-tree snapshots for tests.

#include <map>
#include <string>

#include "archive_builder.h"
#include "io/positional_file.h"

namespace oxtrel::testing {

// A fresh directory under parent (default: the system's temporary area), removed with everything
// in it.
struct ScratchDir {
  explicit ScratchDir(const std::string& parent = {});
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path;
  std::string operator/(const std::string& relative) const { return path + "/" + relative; }
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

// Every entry below root, keyed by its relative path: "dir/" for directories, "-> target" for
// symbolic links, "(special)" for FIFOs and the like, the contents for regular files.
std::map<std::string, std::string> snapshotTree(const std::string& root);

// Writes each file of files (relative path -> contents) below root, making directories as needed.
void writeTree(const std::string& root, const std::map<std::string, std::string>& files);

// A file holding bytes, as a file read by position; it has no name left once open.
PositionalFile memoryFile(const Bytes& bytes);

}  // namespace oxtrel::testing
