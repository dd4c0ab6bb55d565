#pragma once

// Which records a run handles, decided from the catalogue alone before any payload is read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"

namespace oxtrel {

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
EntrySelection selectEntries(const Catalogue& catalogue, const NameIndex& index,
                             const std::vector<std::string>& includes, const std::vector<std::string>& excludes);

inline bool isSelected(const EntrySelection& selection, size_t record) {
  return selection.chosen.empty() || selection.chosen[record] != 0;
}

}  // namespace oxtrel
