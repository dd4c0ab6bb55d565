#include "extract/output_tree.h"

#include <cerrno>

namespace oxtrel {

namespace {

Status writeContent(OutputTree& tree, const OutputPath& path, const Content& content) {
  if (path.hasDotDot) return Error{ErrorKind::unsafePath, 0, {}};
  // A path ending in a separator names a directory, not a file.
  if (path.fileName.empty()) return Error{ErrorKind::cannotWrite, EISDIR, {}};
  Result<int> dir = openDirectory(tree.directories, path, true);
  if (!dir) return std::move(dir.error());
  tree.fileName.assign(path.fileName);
  return publishFile(tree.publisher, *dir, tree.fileName, content);
}

}  // namespace

OutputTree makeOutputTree(int parentFd, const OutputOptions& options) {
  OutputTree tree;
  tree.directories.parentFd = parentFd;
  tree.publisher = makePublisher(options);
  return tree;
}

Status checkOutputPath(OutputTree& tree, const OutputPath& path) {
  if (path.hasDotDot) return Error{ErrorKind::unsafePath, 0, {}};
  Result<int> dir = openDirectory(tree.directories, path, false);
  if (!dir && dir.error().kind == ErrorKind::unsafePath) return std::move(dir.error());
  return {};
}

Status writeOutputFile(OutputTree& tree, const OutputPath& path, std::span<const uint8_t> bytes) {
  return writeContent(tree, path, {bytes, nullptr});
}

Status copyOutputFile(OutputTree& tree, const OutputPath& path, const FileRange& source) {
  return writeContent(tree, path, {{}, &source});
}

}  // namespace oxtrel
