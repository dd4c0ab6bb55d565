#include "pack/catalogue_plan.h"

#include <algorithm>
#include <map>
#include <optional>

#include "catalogue/name_hash.h"
#include "catalogue/name_index.h"

namespace oxtrel {

namespace {

PackFailure backslashIn(const std::string& path) {
  return {PackFailureKind::unstorableName,
          "'" + path + "' has a '\\' in its name, which oxtrel reads as a folder separator"};
}

bool holdsBackslash(const std::string& name) { return name.find('\\') != std::string::npos; }

CataloguePlan refuse(PackFailure failure) {
  CataloguePlan plan;
  plan.failure = std::move(failure);
  return plan;
}

}  // namespace

CataloguePlan planCatalogue(const std::vector<ScannedDirectory>& directories) {
  CataloguePlan plan;
  std::map<NameHash, const ScannedFile*> byHash;
  for (const ScannedDirectory& directory : directories) {
    PlannedFolder folder;
    for (const std::string& component : directory.components) {
      if (holdsBackslash(component)) return refuse(backslashIn(directory.path));
      folder.name += (folder.name.empty() ? "" : "\\") + component;
    }
    if (folder.name.size() > kMaxFolderNameLength)
      return refuse({PackFailureKind::folderNameTooLong,
                     "the folder name of '" + directory.path + "' is " +
                         std::to_string(folder.name.size()) + " bytes long; at most " +
                         std::to_string(kMaxFolderNameLength) + " fit in an archive"});
    folder.hash = computeNameHash(folder.name, std::nullopt);

    for (const ScannedFile& file : directory.files) {
      if (holdsBackslash(file.name)) return refuse(backslashIn(file.path));
      SplitName split = splitAtLastDot(file.name);
      NameHash hash = computeNameHash(split.base, split.extension);
      auto [it, inserted] = byHash.try_emplace(hash, &file);
      if (!inserted && it->second->name != file.name)
        return refuse({PackFailureKind::nameCollision,
                       "'" + it->second->path + "' and '" + file.path +
                           "' have the same name hash (names that differ only in case do), so "
                           "one would be extracted under the other's name"});
      folder.files.push_back({file.name, file.path, file.size, hash});
    }
    std::sort(folder.files.begin(), folder.files.end(),
              [](const PlannedFile& a, const PlannedFile& b) { return a.hash < b.hash; });
    plan.fileCount += uint32_t(folder.files.size());
    plan.folders.push_back(std::move(folder));
  }
  std::sort(plan.folders.begin(), plan.folders.end(),
            [](const PlannedFolder& a, const PlannedFolder& b) {
              return a.hash != b.hash ? a.hash < b.hash : a.name < b.name;
            });
  return plan;
}

}  // namespace oxtrel
