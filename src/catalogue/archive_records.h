#pragma once

// The archive's fixed on-disk records and their byte codecs.
//
// Layout, all integers unsigned 32-bit little-endian, all offsets absolute:
//   ArchiveHeader (36 bytes)
//   folderCount x FolderRecord (16 bytes each)
//   per folder, in table order: nameLength byte, name bytes (NUL counted), fileCount x FileRecord
//   name block: totalNameLength bytes of NUL-terminated file names
// Payloads lie wherever the FileRecords point.

#include <array>
#include <cstddef>
#include <cstdint>

namespace oxtrel {

inline constexpr size_t kHeaderSize = 36;
inline constexpr size_t kFolderRecordSize = 16;
inline constexpr size_t kFileRecordSize = 16;

// Set in archiveFlags when every payload is a 4-byte unpacked size followed by a zlib stream.
inline constexpr uint32_t kCompressedFlag = 4;

using NameHash = std::array<uint8_t, 8>;

struct ArchiveHeader {
  uint32_t identification = 0;
  uint32_t word4 = 0;
  uint32_t tableOffset = 0;  // written as 36; the reader never trusts it
  uint32_t archiveFlags = 0;
  uint32_t folderCount = 0;
  uint32_t fileCount = 0;
  uint32_t word24 = 0;
  uint32_t totalNameLength = 0;
  uint32_t word32 = 0;
};

struct FolderRecord {
  NameHash hash{};
  uint32_t fileCount = 0;
  uint32_t blockOffset = 0;  // not used when reading: folder blocks are found sequentially
};

struct FileRecord {
  NameHash hash{};
  uint32_t size = 0;  // the whole word is the stored byte count; no bit is a flag
  uint32_t offset = 0;
};

// Each decoder requires p to hold the record's full size; each encoder writes exactly that many.
ArchiveHeader decodeHeader(const uint8_t* p);
FolderRecord decodeFolderRecord(const uint8_t* p);
FileRecord decodeFileRecord(const uint8_t* p);
void encodeHeader(const ArchiveHeader& h, uint8_t* p);
void encodeFolderRecord(const FolderRecord& r, uint8_t* p);
void encodeFileRecord(const FileRecord& r, uint8_t* p);

inline bool isCompressed(const ArchiveHeader& h) { return (h.archiveFlags & kCompressedFlag) != 0; }

}  // namespace oxtrel
