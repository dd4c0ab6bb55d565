#pragma once

// What an archive of a scanned tree will hold, in the order it is written: folders and files
// with their hashes, sorted so that one tree always gives one archive.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalogue/archive_records.h"
#include "common/result.h"
#include "pack/tree_scan.h"

namespace oxtrel {

// The folder name is stored after a length byte that counts its NUL.
inline constexpr size_t kMaxFolderNameLength = 254;

struct PlannedFile {
  std::string name;
  std::string path;   // where the writer reads it
  uint64_t size = 0;  // as scanned
  NameHash hash{};
  std::optional<std::span<const uint8_t>> contents{};  // as ScannedFile::contents
  std::optional<KeptPayload> kept{};                   // as ScannedFile::kept; size is its stored size
};

struct PlannedFolder {
  std::string name;  // the directory's path below the packed one, components joined with '\'
  NameHash hash{};   // computeNameHash of the name with an empty extension
  std::vector<PlannedFile> files;  // ascending by hash
};

struct CataloguePlan {
  std::vector<PlannedFolder> folders;  // ascending by hash; equal hashes by name bytes
  uint32_t fileCount = 0;
};

// Hashes are compared as byte strings, first byte first, the order NameIndex keeps them in.
// Refuses a '\' in any file or directory name, a folder name longer than kMaxFolderNameLength,
// and two different file names, in any folders, with one hash: the extractor finds names by
// hash across the whole archive, so one of them would come back under the other's name. These
// fail as unstorableName, folderNameTooLong and nameCollision.
Result<CataloguePlan> planCatalogue(const std::vector<ScannedDirectory>& directories);

}  // namespace oxtrel
