#pragma once

// Which records a run handles, decided from the catalogue alone before any payload is read.
//
// The selection rules, on top of the globs of path_pattern.h, as ignore files have them:
// - A pattern with no separator but at its end (`*.dds`, `readme.txt`, `textures/`) is matched
//   against each component of an entry's path alone: it matches a name at any level, and a folder
//   at any level.
// - Any other pattern (a separator inside, `**/` included, or a leading one) is anchored at the
//   top: it is matched against the path from its first component, and `*`, `?` stay within one
//   level (`meshes/*.nif` is not `meshes/props/x.nif`). A leading separator only anchors:
//   `/readme.txt` is the top-level file alone.
// - A pattern that matches a folder selects everything below it: `textures`, `textures/`,
//   `meshes/props`, and `meshes/*` (the files of meshes and everything in its subfolders).
// - A trailing separator matches folders only: `logo.dds/` selects no file named logo.dds.
// - A pattern that is nothing but separators, or empty, matches nothing.
// Excludes (-x) follow the same rules and win over includes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/path_pattern.h"

namespace oxtrel {

// A pattern compiled once for a run, with its rules.
struct SelectionPattern {
  CompiledPattern glob;      // without its leading and trailing separators
  bool anchored = false;     // matched from the path's top, else against single components
  bool foldersOnly = false;  // a trailing separator: it never matches an entry's own name
  bool empty = false;        // nothing left once the separators are off: it matches nothing
};

SelectionPattern compileSelectionPattern(std::string_view pattern);

// Whether pattern selects the entry at path (patternPath), the path taken alone: what selectEntries
// decides for every entry, there with each folder's share done once for all its entries.
bool selectsPath(SelectionPattern& pattern, std::string_view path);

struct EntrySelection {
  // One flag per record, folder by folder in table order; empty when every record is selected.
  std::vector<uint8_t> chosen;
  // One flag per include pattern: it selected at least one entry that no exclude removed.
  std::vector<uint8_t> includeUsed;
  uint64_t entries = 0;      // selected records that have a name
  uint64_t storedBytes = 0;  // their stored sizes
};

// An entry's path for matching is patternPath(folder, name). Without includes every record is
// selected, those without a name too (they keep their Warning line); with includes, a record
// without a name has no path to match and is never selected. Excludes remove matching entries.
// Each pattern is compiled once; each folder's path is matched once per pattern, then only the
// names below it: time follows the patterns times the tables' size, never entries times folders.
EntrySelection selectEntries(const Catalogue& catalogue, const NameIndex& index,
                             const std::vector<std::string>& includes, const std::vector<std::string>& excludes);

inline bool isSelected(const EntrySelection& selection, size_t record) {
  return selection.chosen.empty() || selection.chosen[record] != 0;
}

}  // namespace oxtrel
