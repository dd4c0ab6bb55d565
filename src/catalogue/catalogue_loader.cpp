#include "catalogue/catalogue_loader.h"

#include <algorithm>

namespace oxtrel {

namespace {

// Hands out consecutive byte ranges of the archive, refusing any that would run past its end.
struct SequentialReader {
  const ArchiveFile& file;
  uint64_t position = 0;

  // Reads count records of recordSize bytes into a buffer sized only after the bounds check.
  bool readTable(uint64_t count, size_t recordSize, std::vector<uint8_t>& out) {
    uint64_t length = count * recordSize;  // count < 2^32 and recordSize <= 36: no overflow
    if (!archiveHolds(file, position, length)) return false;
    out.resize(size_t(length));
    if (!readAt(file, position, out.data(), out.size())) return false;
    position += length;
    return true;
  }
};

}  // namespace

LoadResult loadCatalogue(const ArchiveFile& file) {
  LoadResult result;
  Catalogue& cat = result.catalogue;
  SequentialReader reader{file};
  std::vector<uint8_t> bytes;

  auto truncated = [&result] {
    result.status = LoadStatus::truncated;
    result.catalogue = {};
    return std::move(result);
  };

  if (!reader.readTable(1, kHeaderSize, bytes)) return truncated();
  cat.header = decodeHeader(bytes.data());

  if (!reader.readTable(cat.header.folderCount, kFolderRecordSize, bytes)) return truncated();
  cat.folderRecords.resize(cat.header.folderCount);
  for (size_t i = 0; i < cat.folderRecords.size(); ++i)
    cat.folderRecords[i] = decodeFolderRecord(bytes.data() + i * kFolderRecordSize);

  cat.folders.resize(cat.header.folderCount);
  for (size_t i = 0; i < cat.folders.size(); ++i) {
    Folder& folder = cat.folders[i];
    const FolderRecord& record = cat.folderRecords[i];

    if (!reader.readTable(1, 1, bytes)) return truncated();
    if (!reader.readTable(bytes[0], 1, bytes)) return truncated();
    auto nul = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    folder.name.assign(bytes.begin(), nul);
    folder.hash = record.hash;

    if (!reader.readTable(record.fileCount, kFileRecordSize, bytes)) return truncated();
    folder.files.resize(record.fileCount);
    for (size_t j = 0; j < folder.files.size(); ++j)
      folder.files[j] = decodeFileRecord(bytes.data() + j * kFileRecordSize);
  }

  if (!archiveHolds(file, reader.position, cat.header.totalNameLength)) return truncated();
  cat.nameBlockOffset = reader.position;
  return result;
}

}  // namespace oxtrel
