#include "extract/output_tree.h"

#include <cerrno>

namespace oxtrel {

namespace {

// Once per directory and run, also when the directory was closed and opened again.
void sweepOnce(OutputTree& tree, OpenDirectory& dir) {
  if (dir.swept) return;
  dir.swept = true;
  if (tree.sweptKeys.insert(dir.key).second) platform::sweepTemporaries(tree.publisher, dir.handle.get());
}

Status writeContent(OutputTree& tree, const OutputPath& path, const platform::Content& content) {
  if (path.unsafe) return Error{ErrorKind::unsafePath, 0, {}};
  // A path ending in a separator names a directory, not a file.
  if (path.fileName.empty()) return Error{ErrorKind::cannotWrite, EISDIR, {}};
  Result<OpenDirectory*> dir = openDirectory(tree.directories, path, true);
  if (!dir) return std::move(dir.error());
  // A file named "." would be the directory just made or found: say so rather than let the
  // system refuse with a reason that names nothing in the way.
  if (path.fileName == ".") return Error{ErrorKind::cannotWrite, EISDIR, {}};
  sweepOnce(tree, **dir);
  tree.fileName.assign(path.fileName);
  platform::SystemError error = platform::publishFile(tree.publisher, (*dir)->handle.get(), tree.fileName, content);
  if (error != 0) return Error{ErrorKind::cannotWrite, error, {}};
  return {};
}

}  // namespace

OutputTree makeOutputTree(platform::NativeHandle parent, const platform::PublishOptions& options) {
  OutputTree tree;
  tree.directories.parent = parent;
  tree.publisher = platform::makePublisher(options);
  return tree;
}

Status checkOutputPath(OutputTree& tree, const OutputPath& path) {
  if (path.unsafe) return Error{ErrorKind::unsafePath, 0, {}};
  Result<OpenDirectory*> dir = openDirectory(tree.directories, path, false);
  if (!dir && dir.error().kind == ErrorKind::unsafePath) return std::move(dir.error());
  return {};
}

ExistingOutput existingOutput(OutputTree& tree, const OutputPath& path) {
  if (path.fileName.empty()) return ExistingOutput::none;
  Result<OpenDirectory*> dir = openDirectory(tree.directories, path, false);
  if (!dir) return ExistingOutput::none;
  tree.fileName.assign(path.fileName);
  platform::FileStatus status;
  if (platform::statusAt((*dir)->handle.get(), tree.fileName, status) != 0) return ExistingOutput::none;
  switch (status.kind) {
    case platform::FileKind::regular:
    case platform::FileKind::symbolicLink: return ExistingOutput::fileOrLink;
    case platform::FileKind::directory: return ExistingOutput::directory;
    case platform::FileKind::other: break;
  }
  return ExistingOutput::special;
}

Status writeOutputFile(OutputTree& tree, const OutputPath& path, std::span<const uint8_t> bytes) {
  return writeContent(tree, path, {bytes, nullptr, nullptr});
}

Status copyOutputFile(OutputTree& tree, const OutputPath& path, const platform::FileRange& source) {
  return writeContent(tree, path, {{}, &source, nullptr});
}

Status streamOutputFile(OutputTree& tree, const OutputPath& path, const platform::ContentWriter& writer) {
  return writeContent(tree, path, {{}, nullptr, &writer});
}

}  // namespace oxtrel
