#include "catalogue/archive_records.h"

#include <algorithm>

#include "catalogue/little_endian.h"

namespace oxtrel {

ArchiveHeader decodeHeader(const uint8_t* p) {
  ArchiveHeader h;
  h.identification = loadLe32(p + 0);
  h.word4 = loadLe32(p + 4);
  h.tableOffset = loadLe32(p + 8);
  h.archiveFlags = loadLe32(p + 12);
  h.folderCount = loadLe32(p + 16);
  h.fileCount = loadLe32(p + 20);
  h.word24 = loadLe32(p + 24);
  h.totalNameLength = loadLe32(p + 28);
  h.word32 = loadLe32(p + 32);
  return h;
}

FolderRecord decodeFolderRecord(const uint8_t* p) {
  FolderRecord r;
  std::copy(p, p + 8, r.hash.begin());
  r.fileCount = loadLe32(p + 8);
  r.blockOffset = loadLe32(p + 12);
  return r;
}

FileRecord decodeFileRecord(const uint8_t* p) {
  FileRecord r;
  std::copy(p, p + 8, r.hash.begin());
  r.size = loadLe32(p + 8);
  r.offset = loadLe32(p + 12);
  return r;
}

void encodeHeader(const ArchiveHeader& h, uint8_t* p) {
  storeLe32(p + 0, h.identification);
  storeLe32(p + 4, h.word4);
  storeLe32(p + 8, h.tableOffset);
  storeLe32(p + 12, h.archiveFlags);
  storeLe32(p + 16, h.folderCount);
  storeLe32(p + 20, h.fileCount);
  storeLe32(p + 24, h.word24);
  storeLe32(p + 28, h.totalNameLength);
  storeLe32(p + 32, h.word32);
}

void encodeFolderRecord(const FolderRecord& r, uint8_t* p) {
  std::copy(r.hash.begin(), r.hash.end(), p);
  storeLe32(p + 8, r.fileCount);
  storeLe32(p + 12, r.blockOffset);
}

void encodeFileRecord(const FileRecord& r, uint8_t* p) {
  std::copy(r.hash.begin(), r.hash.end(), p);
  storeLe32(p + 8, r.size);
  storeLe32(p + 12, r.offset);
}

}  // namespace oxtrel
