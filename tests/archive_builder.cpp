#include "archive_builder.h"

#include <zlib.h>

#include "catalogue/little_endian.h"
#include "catalogue/name_hash.h"
#include "catalogue/payload_format.h"

namespace oxtrel::testing {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes compressedPayload(const Bytes& plain, std::optional<uint32_t> unpackedSize) {
  uLongf length = compressBound(uLong(plain.size()));
  Bytes out(kUnpackedSizeBytes + length);
  compress2(out.data() + kUnpackedSizeBytes, &length, plain.data(), uLong(plain.size()), 6);
  out.resize(kUnpackedSizeBytes + length);
  storeLe32(out.data(), unpackedSize.value_or(uint32_t(plain.size())));
  return out;
}

Bytes buildArchive(const TestArchive& a) {
  Bytes nameBlock;
  if (a.nameBlock) {
    nameBlock = *a.nameBlock;
  } else {
    for (const TestFolder& folder : a.folders)
      for (const TestFile& file : folder.files) {
        nameBlock.insert(nameBlock.end(), file.name.begin(), file.name.end());
        nameBlock.push_back(0);
      }
  }

  uint32_t totalFiles = 0;
  Bytes blocks;
  size_t tablesEnd = kHeaderSize + a.folders.size() * kFolderRecordSize;
  for (const TestFolder& folder : a.folders) {
    Bytes stored = folder.storedName.value_or(bytesOf(folder.name + '\0'));
    tablesEnd += 1 + stored.size() + folder.files.size() * kFileRecordSize;
    totalFiles += uint32_t(folder.files.size());
  }
  uint64_t payloadPos = tablesEnd + nameBlock.size();

  ArchiveHeader header = a.header;
  header.folderCount = a.folderCount.value_or(uint32_t(a.folders.size()));
  header.fileCount = a.fileCount.value_or(totalFiles);
  header.totalNameLength = a.totalNameLength.value_or(uint32_t(nameBlock.size()));

  Bytes out(kHeaderSize);
  encodeHeader(header, out.data());
  Bytes payloads;
  for (const TestFolder& folder : a.folders) {
    FolderRecord record{folder.hash.value_or(computeNameHash(folder.name, {})),
                        folder.fileCount.value_or(uint32_t(folder.files.size())), folder.blockOffset};
    size_t at = out.size();
    out.resize(at + kFolderRecordSize);
    encodeFolderRecord(record, out.data() + at);
  }
  for (const TestFolder& folder : a.folders) {
    Bytes stored = folder.storedName.value_or(bytesOf(folder.name + '\0'));
    out.push_back(folder.nameLength.value_or(uint8_t(stored.size())));
    out.insert(out.end(), stored.begin(), stored.end());
    for (const TestFile& file : folder.files) {
      FileRecord record{file.hash.value_or(hashFileName(file.name)),
                        file.size.value_or(uint32_t(file.payload.size())),
                        file.offset.value_or(uint32_t(payloadPos + payloads.size()))};
      payloads.insert(payloads.end(), file.payload.begin(), file.payload.end());
      size_t at = out.size();
      out.resize(at + kFileRecordSize);
      encodeFileRecord(record, out.data() + at);
    }
  }
  out.insert(out.end(), nameBlock.begin(), nameBlock.end());
  out.insert(out.end(), payloads.begin(), payloads.end());
  return out;
}

}  // namespace oxtrel::testing
