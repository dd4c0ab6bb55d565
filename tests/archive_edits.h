#pragma once

// Random archives and random edit lists for the update tests: what an archive holds once
// extracted, an edit list applied to that tree, and the changes between two trees as
// "A path" / "D path" / "M path" lines sorted by path.

#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive_builder.h"

namespace oxtrel::testing {

using Tree = std::map<std::string, std::string>;  // path below data, '/' separators -> contents

struct EditableArchive {
  Bytes bytes;
  bool compressed = false;
};

// Folders from a small set, spelled with '/' or '\' at random (one folder may appear under both
// spellings: the later record wins, as extraction leaves it), folders that differ only in case,
// empty files, and now and then a file larger than the packer compresses in one piece.
EditableArchive randomEditableArchive(std::mt19937& rng, bool compressed);

struct EditList {
  std::map<std::string, std::string> files;  // added or replacing: path -> contents
  std::vector<std::string> removePatterns;   // each an entry's path, as a pattern selects it
};

// Adds (new folders too), replaces and removes, now and then a name that differs from one
// already stored only in case (the update refuses such twins).
EditList randomEdits(std::mt19937& rng, const Tree& old);

// The tree after the update: removedPaths (what the patterns select) go, then files are written.
Tree applyEdits(Tree tree, const std::vector<std::string>& removedPaths, const EditList& edits);

// "A path", "D path", "M path" for each path added, deleted or changed in contents, by path.
std::vector<std::string> changeLines(const Tree& before, const Tree& after);

}  // namespace oxtrel::testing
