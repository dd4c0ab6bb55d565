#pragma once

// Reads the archive's tables (header, folder table, folder blocks) into memory and finds the name
// block, which is left in the file: its names are read by the name index.

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/archive_records.h"
#include "common/result.h"
#include "io/positional_file.h"

namespace oxtrel {

// A folder's hash and block offset are not kept: extraction finds blocks in order and files by
// their own hashes.
struct Folder {
  std::string name;  // bytes as stored, up to the first NUL; separators kept
  std::vector<FileRecord> files;
};

struct Catalogue {
  ArchiveHeader header;
  std::vector<Folder> folders;   // in folder-table order
  uint64_t nameBlockOffset = 0;  // header.totalNameLength bytes, all inside the archive
};

// Reads the tables strictly in file order from byte 0. Every count and length is checked against
// the bytes left in the file before anything is sized from it, so no allocation exceeds what the
// file could hold. A folder name is its nameLength bytes up to the first NUL (all of them when
// there is none; empty when nameLength is 0). Fails as truncated, where "catalogue", when the
// file ends before some table is complete or a count cannot fit in it, or as cannotRead.
Result<Catalogue> loadCatalogue(const PositionalFile& file);

}  // namespace oxtrel
