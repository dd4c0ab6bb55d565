#pragma once

// Reads the archive's tables (header, folder table, folder blocks) into memory and finds the name
// block, which is left in the file: its names are read by the name index.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/archive_records.h"
#include "common/result.h"
#include "io/positional_file.h"

namespace oxtrel {

// The tables held flat: every file record in one array, every folder name in one buffer, and per
// folder only where its records and its name begin. A folder's hash and block offset are not
// kept: extraction finds blocks in order and files by their own hashes. Memory stays below the
// tables' size in the file, however many folders or records they hold.
struct Catalogue {
  ArchiveHeader header;
  std::vector<FileRecord> files;       // folder by folder, records as stored
  std::vector<uint64_t> fileStarts{0};  // folder f holds files[fileStarts[f], fileStarts[f + 1])
  std::string folderNames;             // bytes as stored, up to each name's first NUL; separators kept
  std::vector<uint64_t> nameStarts{0};  // folder f is named folderNames[nameStarts[f], nameStarts[f + 1])
  uint64_t nameBlockOffset = 0;         // header.totalNameLength bytes, all inside the archive
};

inline size_t folderCount(const Catalogue& c) { return c.fileStarts.size() - 1; }

inline std::string_view folderName(const Catalogue& c, size_t folder) {
  return std::string_view(c.folderNames)
      .substr(size_t(c.nameStarts[folder]), size_t(c.nameStarts[folder + 1] - c.nameStarts[folder]));
}

inline std::span<const FileRecord> folderFiles(const Catalogue& c, size_t folder) {
  return std::span<const FileRecord>(c.files)
      .subspan(size_t(c.fileStarts[folder]), size_t(c.fileStarts[folder + 1] - c.fileStarts[folder]));
}

// The folder that holds record `record` (below files.size()): the last one starting at or before it.
size_t folderOfRecord(const Catalogue& c, size_t record);

// Appends a folder and its records: how tests and tools make a catalogue without a file.
void addFolder(Catalogue& c, std::string_view name, std::span<const FileRecord> files);

// Reads the tables strictly in file order from byte 0, through one small buffer. The counts are
// checked against the bytes left in the file before anything is sized from them (every folder
// takes at least its record and its name length byte, every file its record), so no allocation
// exceeds what the file could hold. A folder name is its nameLength bytes up to the first NUL
// (all of them when there is none; empty when nameLength is 0). Fails as truncated, where
// "catalogue", when the file ends before some table is complete or a count cannot fit in it, or
// as cannotRead.
Result<Catalogue> loadCatalogue(const PositionalFile& file);

}  // namespace oxtrel
