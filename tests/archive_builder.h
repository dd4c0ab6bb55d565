#pragma once

// Builds archive bytes for tests. Every field can be forced, so tests can make archives whose
// counts, lengths and offsets are wrong on purpose.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/archive_records.h"

namespace oxtrel::testing {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text);

struct TestFile {
  std::string name{};  // goes into the name block and gives the hash, unless overridden
  Bytes payload{};     // stored as given, right after the name block in table order
  std::optional<NameHash> hash{};
  std::optional<uint32_t> size{};
  std::optional<uint32_t> offset{};
};

struct TestFolder {
  std::string name{};
  std::optional<Bytes> storedName{};  // exact bytes after the length byte (default: name + NUL)
  std::optional<uint8_t> nameLength{};
  std::optional<uint32_t> fileCount{};
  std::vector<TestFile> files{};
  std::optional<NameHash> hash{};  // the FolderRecord's hash (default: hash of name)
  uint32_t blockOffset = 0;        // the FolderRecord's last word
};

struct TestArchive {
  ArchiveHeader header;  // counts left at 0 are filled in from the folders unless forced below
  std::vector<TestFolder> folders;
  std::optional<uint32_t> folderCount;
  std::optional<uint32_t> fileCount{};
  std::optional<uint32_t> totalNameLength;
  std::optional<Bytes> nameBlock;  // default: every file's name + NUL, in table order
};

Bytes buildArchive(const TestArchive& archive);

// A compressed payload: 4-byte unpacked size, then a zlib stream of plain.
Bytes compressedPayload(const Bytes& plain, std::optional<uint32_t> unpackedSize = std::nullopt);

}  // namespace oxtrel::testing
