#include "catalogue/catalogue_loader.h"

#include <algorithm>

namespace oxtrel {

namespace {

constexpr size_t kReadPiece = 64 * 1024;

Error truncatedCatalogue() { return Error{ErrorKind::truncated, 0, "catalogue"}; }

// Hands out consecutive byte ranges of the archive from a buffer refilled a piece at a time,
// refusing any that would run past the end of the file.
struct SequentialReader {
  const PositionalFile& file;
  uint64_t position = 0;  // of the next byte handed out
  std::vector<uint8_t> buffer = std::vector<uint8_t>(size_t(std::min<uint64_t>(kReadPiece, file.size)));
  size_t begin = 0;  // buffer[begin, end) holds the bytes from position on
  size_t end = 0;

  // The next count bytes (at most kReadPiece), valid until the next call.
  Result<const uint8_t*> take(size_t count) {
    if (!fileHolds(file, position, count)) return truncatedCatalogue();
    if (end - begin < count) {
      std::copy(buffer.begin() + std::ptrdiff_t(begin), buffer.begin() + std::ptrdiff_t(end), buffer.begin());
      end -= begin;
      begin = 0;
      size_t want = size_t(std::min<uint64_t>(buffer.size() - end, file.size - position - end));
      if (Status read = readAt(file, position + end, {buffer.data() + end, want}); !read) {
        read.error().where = "catalogue";
        return std::move(read.error());
      }
      end += want;
    }
    const uint8_t* bytes = buffer.data() + begin;
    begin += count;
    position += count;
    return bytes;
  }

  uint64_t left() const { return file.size - position; }
};

}  // namespace

size_t folderOfRecord(const Catalogue& c, size_t record) {
  auto next = std::upper_bound(c.fileStarts.begin(), c.fileStarts.end(), uint64_t(record));
  return size_t(next - c.fileStarts.begin()) - 1;
}

void addFolder(Catalogue& c, std::string_view name, std::span<const FileRecord> files) {
  c.folderNames.append(name);
  c.nameStarts.push_back(c.folderNames.size());
  c.files.insert(c.files.end(), files.begin(), files.end());
  c.fileStarts.push_back(c.files.size());
}

Result<Catalogue> loadCatalogue(const PositionalFile& file) {
  Catalogue cat;
  SequentialReader reader{file};

  Result<const uint8_t*> bytes = reader.take(kHeaderSize);
  if (!bytes) return std::move(bytes.error());
  cat.header = decodeHeader(*bytes);

  // Every folder needs its record and the length byte of its name.
  const uint64_t folders = cat.header.folderCount;
  if (folders * (kFolderRecordSize + 1) > reader.left()) return truncatedCatalogue();
  cat.fileStarts.reserve(size_t(folders) + 1);
  cat.nameStarts.reserve(size_t(folders) + 1);
  uint64_t records = 0;
  for (uint64_t i = 0; i < folders; ++i) {
    if (!(bytes = reader.take(kFolderRecordSize))) return std::move(bytes.error());
    records += decodeFolderRecord(*bytes).fileCount;
    if (records > reader.left() / kFileRecordSize) return truncatedCatalogue();
    cat.fileStarts.push_back(records);
  }
  if (folders + records * kFileRecordSize > reader.left()) return truncatedCatalogue();
  cat.files.reserve(size_t(records));

  for (uint64_t i = 0; i < folders; ++i) {
    if (!(bytes = reader.take(1))) return std::move(bytes.error());
    size_t nameLength = **bytes;
    if (!(bytes = reader.take(nameLength))) return std::move(bytes.error());
    const uint8_t* name = *bytes;
    cat.folderNames.append(reinterpret_cast<const char*>(name),
                           size_t(std::find(name, name + nameLength, uint8_t(0)) - name));
    cat.nameStarts.push_back(cat.folderNames.size());
    for (uint64_t j = cat.fileStarts[i]; j < cat.fileStarts[i + 1]; ++j) {
      if (!(bytes = reader.take(kFileRecordSize))) return std::move(bytes.error());
      cat.files.push_back(decodeFileRecord(*bytes));
    }
  }

  if (!fileHolds(file, reader.position, cat.header.totalNameLength)) return truncatedCatalogue();
  cat.nameBlockOffset = reader.position;
  return cat;
}

}  // namespace oxtrel
