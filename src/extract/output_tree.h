#pragma once

// Writes extracted files below a `data` directory, never outside it.
//
// An entry's relative path (folder name + '\' + file name, with '\' and '/' both separating
// components) is refused as unsafe when a component is ".." or a name the system would misread
// (see output_path.h), or when an existing component below
// `data` is a symbolic link (`data` itself may be one). Files are published atomically (see
// platform::publishFile): a symbolic link standing at the file's own name is replaced, never
// written through, and a failed or killed run never leaves a partial file under a final name.
// The first time a run writes into a directory it removes the temporaries there whose process
// is gone.

#include <span>
#include <string>
#include <unordered_set>

#include "common/result.h"
#include "extract/directory_walk.h"
#include "extract/output_path.h"
#include "platform/platform.h"

namespace oxtrel {

// Move-only: it owns the handles of `data` and of the directories last written into. One
// tree per thread: several trees may write below the same `data` at once (a directory another
// tree makes first is simply used, and temporary names never collide).
struct OutputTree {
  DirectoryCache directories;
  platform::Publisher publisher;
  std::string fileName;  // the name being written, reused for every entry
  std::unordered_set<std::string> sweptKeys;  // directories already rid of dead temporaries
};

// parent (platform::workingDirectory() for the working directory) must stay open while the tree
// is used.
OutputTree makeOutputTree(platform::NativeHandle parent, const platform::PublishOptions& options = {});

// Without side effects: unsafePath when the path has a ".." component or passes through a
// symbolic link that already exists below `data`.
Status checkOutputPath(OutputTree& tree, const OutputPath& path);

// What already stands at path's final name, looked at without side effects.
enum class ExistingOutput {
  none,
  fileOrLink,  // a regular file or a symbolic link: what keeping an existing file keeps
  directory,
  special,     // a FIFO, a socket or a device
};
ExistingOutput existingOutput(OutputTree& tree, const OutputPath& path);

// Creates the missing directories and writes bytes atomically at path. A link that appears
// between the check and the write is still refused (unsafePath); the file system's refusals are
// cannotWrite with errno (EISDIR for a path that ends in a separator or names a directory).
// where is left to the caller, who knows the entry's path.
Status writeOutputFile(OutputTree& tree, const OutputPath& path, std::span<const uint8_t> bytes);

// As writeOutputFile, with the bytes taken from source. A source that ends early fails with EIO.
Status copyOutputFile(OutputTree& tree, const OutputPath& path, const platform::FileRange& source);

// As writeOutputFile, with the bytes made by writer while the file is written (see
// platform::ContentWriter); the writer's own failure comes back as cannotWrite with its value.
Status streamOutputFile(OutputTree& tree, const OutputPath& path, const platform::ContentWriter& writer);

}  // namespace oxtrel
