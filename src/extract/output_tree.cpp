#include "extract/output_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace oxtrel {

namespace {

// Once per directory and run, also when the directory was closed and opened again.
void sweepOnce(OutputTree& tree, OpenDirectory& dir) {
  if (dir.swept) return;
  dir.swept = true;
  if (tree.sweptKeys.insert(dir.key).second) removeDeadTemporaries(tree.publisher, dir.fd.get());
}

Status writeContent(OutputTree& tree, const OutputPath& path, const Content& content) {
  if (path.hasDotDot) return Error{ErrorKind::unsafePath, 0, {}};
  // A path ending in a separator names a directory, not a file.
  if (path.fileName.empty()) return Error{ErrorKind::cannotWrite, EISDIR, {}};
  Result<OpenDirectory*> dir = openDirectory(tree.directories, path, true);
  if (!dir) return std::move(dir.error());
  // A file named "." would be the directory just made or found: say so rather than let the
  // system refuse with a reason that names nothing in the way.
  if (path.fileName == ".") return Error{ErrorKind::cannotWrite, EISDIR, {}};
  sweepOnce(tree, **dir);
  tree.fileName.assign(path.fileName);
  return publishFile(tree.publisher, (*dir)->fd.get(), tree.fileName, content);
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
  Result<OpenDirectory*> dir = openDirectory(tree.directories, path, false);
  if (!dir && dir.error().kind == ErrorKind::unsafePath) return std::move(dir.error());
  return {};
}

bool outputFileExists(OutputTree& tree, const OutputPath& path) {
  if (path.fileName.empty()) return false;
  Result<OpenDirectory*> dir = openDirectory(tree.directories, path, false);
  if (!dir) return false;
  tree.fileName.assign(path.fileName);
  struct stat st;
  return fstatat((*dir)->fd.get(), tree.fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

Status writeOutputFile(OutputTree& tree, const OutputPath& path, std::span<const uint8_t> bytes) {
  return writeContent(tree, path, {bytes, nullptr});
}

Status copyOutputFile(OutputTree& tree, const OutputPath& path, const FileRange& source) {
  return writeContent(tree, path, {{}, &source});
}

}  // namespace oxtrel
