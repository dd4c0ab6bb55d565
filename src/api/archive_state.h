#pragma once

// What an open Archive holds behind its handle: the file, its tables and the entries made of them.

#include <oxtrel/archive.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "io/positional_file.h"

namespace oxtrel {

struct ArchiveState {
  std::string path;
  PositionalFile file;
  Catalogue catalogue;
  NameIndex index;
  std::vector<Entry> entries;
  // Folded lookup key (lower-case ASCII, '/' separators) to the first entry with that path.
  std::unordered_map<std::string, size_t> byPath;
};

// The key findEntry compares: ASCII letters lowered, '\' read as '/'. Hidden by name: the file
// that defines it is built visible.
__attribute__((visibility("hidden"))) std::string foldedPath(std::string_view path);

}  // namespace oxtrel
