#include "catalogue/catalogue_loader.h"

#include <algorithm>

namespace oxtrel {

namespace {

// Hands out consecutive byte ranges of the archive, refusing any that would run past its end.
struct SequentialReader {
  const PositionalFile& file;
  uint64_t position = 0;

  // Reads count records of recordSize bytes into a buffer sized only after the bounds check.
  Status readTable(uint64_t count, size_t recordSize, std::vector<uint8_t>& out) {
    uint64_t length = count * recordSize;  // count < 2^32 and recordSize <= 36: no overflow
    if (!fileHolds(file, position, length)) return Error{ErrorKind::truncated, 0, "catalogue"};
    out.resize(size_t(length));
    Status read = readAt(file, position, out);
    if (!read) {
      read.error().where = "catalogue";
      return read;
    }
    position += length;
    return {};
  }
};

}  // namespace

Result<Catalogue> loadCatalogue(const PositionalFile& file) {
  Catalogue cat;
  SequentialReader reader{file};
  std::vector<uint8_t> bytes;

  if (Status s = reader.readTable(1, kHeaderSize, bytes); !s) return std::move(s.error());
  cat.header = decodeHeader(bytes.data());

  if (Status s = reader.readTable(cat.header.folderCount, kFolderRecordSize, bytes); !s)
    return std::move(s.error());
  std::vector<uint32_t> fileCounts(cat.header.folderCount);
  for (size_t i = 0; i < fileCounts.size(); ++i)
    fileCounts[i] = decodeFolderRecord(bytes.data() + i * kFolderRecordSize).fileCount;

  cat.folders.resize(cat.header.folderCount);
  for (size_t i = 0; i < cat.folders.size(); ++i) {
    Folder& folder = cat.folders[i];
    if (Status s = reader.readTable(1, 1, bytes); !s) return std::move(s.error());
    if (Status s = reader.readTable(bytes[0], 1, bytes); !s) return std::move(s.error());
    auto nul = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    folder.name.assign(bytes.begin(), nul);

    if (Status s = reader.readTable(fileCounts[i], kFileRecordSize, bytes); !s) return std::move(s.error());
    folder.files.resize(fileCounts[i]);
    for (size_t j = 0; j < folder.files.size(); ++j)
      folder.files[j] = decodeFileRecord(bytes.data() + j * kFileRecordSize);
  }

  if (!fileHolds(file, reader.position, cat.header.totalNameLength))
    return Error{ErrorKind::truncated, 0, "catalogue"};
  cat.nameBlockOffset = reader.position;
  return cat;
}

}  // namespace oxtrel
