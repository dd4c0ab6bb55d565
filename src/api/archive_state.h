#pragma once

// What an open Archive holds behind its handle: the file, its tables and the entries made of them.

#include <oxtrel/archive.h>

#include <mutex>
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
  // Where each folder's records begin in table order, and the record count last.
  std::vector<size_t> folderStarts;
  // Made on first use: an extraction needs neither, and a compressed archive's unpacked sizes
  // cost a read per entry.
  std::once_flag entriesMade;
  std::vector<Entry> entries;
  // Folded lookup key to the last entry with that path.
  std::unordered_map<std::string, size_t> byPath;
};

// What every call that can fail answers for an Archive that was moved from.
Error movedFrom();

// The key findEntry compares: ASCII letters lowered, '\' read as '/', empty components dropped.
// Hidden by name: the file that defines it is built visible.
std::string foldedPath(std::string_view path);

}  // namespace oxtrel
