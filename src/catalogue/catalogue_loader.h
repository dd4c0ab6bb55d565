#pragma once

// Reads the archive's tables (header, folder table, folder blocks) into memory and finds the name
// block, which is left in the file: its names are read by the name index.

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/archive_file.h"
#include "catalogue/archive_records.h"

namespace oxtrel {

struct Folder {
  std::string name;  // bytes as stored, up to the first NUL; separators kept
  NameHash hash{};   // copied from the FolderRecord, never checked
  std::vector<FileRecord> files;
};

struct Catalogue {
  ArchiveHeader header;
  std::vector<FolderRecord> folderRecords;
  std::vector<Folder> folders;  // index-aligned with folderRecords
  uint64_t nameBlockOffset = 0;  // header.totalNameLength bytes, all inside the archive
};

enum class LoadStatus {
  ok,
  truncated,  // the file ends before some table is complete, or a count cannot fit in it
};

struct LoadResult {
  LoadStatus status = LoadStatus::ok;
  Catalogue catalogue;  // complete only when status is ok
};

// Reads the tables strictly in file order from byte 0. Every count and length is checked against
// the bytes left in the file before anything is sized from it, so no allocation exceeds what the
// file could hold. A folder name is its nameLength bytes up to the first NUL (all of them when
// there is none; empty when nameLength is 0).
LoadResult loadCatalogue(const ArchiveFile& file);

}  // namespace oxtrel
