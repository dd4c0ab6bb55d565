#pragma once

// The plan of an update: which records of the old archive are kept, which files of a scanned
// tree replace or join them, merged into the catalogue plan a fresh pack of the result's
// extracted tree would give.

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "pack/catalogue_plan.h"
#include "pack/tree_scan.h"

namespace oxtrel {

// One record of the archive being updated, in table order.
struct OldEntry {
  std::string path;     // folder and name joined with '/', '\' written '/'; empty when unnamed
  std::string where;    // how a note names it: its path, or its folder and place when unnamed
  KeptPayload payload;  // the stored bytes, copied as they are when the entry is kept
  bool removed = false; // a remove pattern selected it
  std::string broken;   // why the archive cannot give it back; empty when it can
};

struct UpdatePlan {
  CataloguePlan catalogue;
  uint32_t kept = 0, added = 0, replaced = 0, removed = 0, superseded = 0;
  std::vector<std::string> notes;  // one per broken or superseded record, in table order
  uint32_t broken = 0;             // broken records not removed
};

// Merges old and tree (tree may hold no directory). A record at the same path as a later one,
// or as a file of tree, is left out; a removed one too; a broken one is left out and counted in
// broken (the caller refuses the update unless told to drop them). Paths are compared as an
// extraction writes them: empty and "." components do not count; a record whose path has a
// ".." component is broken. Fails as planCatalogue does, and as invalidArgument for a file
// that is also a folder of other entries (no extracted tree could hold both).
Result<UpdatePlan> planUpdate(const std::vector<OldEntry>& old, const TreeScan& tree);

}  // namespace oxtrel
