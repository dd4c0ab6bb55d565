#pragma once

// Named records in the order of their paths, without composing a path: an entry's path is its
// folder's name, a '/' when that name is not empty, and its file name, with every '\' read as '/'
// (as Entry::path spells it). Bytes compare as unsigned values, so the order is the byte order of
// the composed paths. Memory: one small record per named record, no text.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"

namespace oxtrel {

struct PathedRecord {
  std::string_view folder;  // views into the catalogue and the name index
  std::string_view name;
  size_t record = 0;        // place in table order
};

// <0, 0 or >0 as a's composed path sorts before, with or after b's.
int comparePaths(const PathedRecord& a, const PathedRecord& b);

// The named ones among records (places in table order), sorted by path; where several share a
// path only the last in table order is kept, the one whose contents extraction leaves on disk.
// unnamed counts the records left out for having no name.
std::vector<PathedRecord> orderByPath(const Catalogue& catalogue, const NameIndex& index,
                                      std::span<const size_t> records, uint64_t& unnamed);

}  // namespace oxtrel
