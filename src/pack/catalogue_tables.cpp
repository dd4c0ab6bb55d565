#include "pack/catalogue_tables.h"

#include <algorithm>

#include "catalogue/little_endian.h"

namespace oxtrel {

namespace {

uint64_t nameBlockLength(const CataloguePlan& plan) {
  uint64_t length = 0;
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) length += file.name.size() + 1;
  return length;
}

// Copies name to at; the zero byte after it, already there, is its NUL. Returns the next position.
size_t putTerminated(std::vector<uint8_t>& out, size_t at, const std::string& name) {
  std::copy(name.begin(), name.end(), out.begin() + ptrdiff_t(at));
  return at + name.size() + 1;
}

}  // namespace

uint64_t tablesLength(const CataloguePlan& plan) {
  uint64_t length = kHeaderSize + plan.folders.size() * kFolderRecordSize;
  for (const PlannedFolder& folder : plan.folders)
    length += 1 + folder.name.size() + 1 + folder.files.size() * kFileRecordSize;
  return length + nameBlockLength(plan);
}

std::vector<uint8_t> encodeTables(const CataloguePlan& plan, bool compressed,
                                  const std::vector<PayloadPlacement>& placements) {
  std::vector<uint8_t> out(tablesLength(plan));
  const uint32_t nameLength = uint32_t(nameBlockLength(plan));

  ArchiveHeader header;
  header.identification = loadLe32(kPackIdentification.data());
  header.tableOffset = kHeaderSize;
  header.archiveFlags = compressed ? kCompressedFlag : 0;
  header.folderCount = uint32_t(plan.folders.size());
  header.fileCount = plan.fileCount;
  header.totalNameLength = nameLength;
  encodeHeader(header, out.data());

  size_t recordAt = kHeaderSize;
  size_t blockAt = kHeaderSize + plan.folders.size() * kFolderRecordSize;
  size_t nameAt = out.size() - nameLength;
  auto placement = placements.begin();
  for (const PlannedFolder& folder : plan.folders) {
    encodeFolderRecord({folder.hash, uint32_t(folder.files.size()), uint32_t(blockAt)},
                       out.data() + recordAt);
    recordAt += kFolderRecordSize;

    out[blockAt] = uint8_t(folder.name.size() + 1);
    blockAt = putTerminated(out, blockAt + 1, folder.name);
    for (const PlannedFile& file : folder.files) {
      encodeFileRecord({file.hash, placement->size, placement->offset}, out.data() + blockAt);
      ++placement;
      blockAt += kFileRecordSize;
      nameAt = putTerminated(out, nameAt, file.name);
    }
  }
  return out;
}

}  // namespace oxtrel
