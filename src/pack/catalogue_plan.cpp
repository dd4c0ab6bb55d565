#include "pack/catalogue_plan.h"

#include <algorithm>
#include <map>

#include "catalogue/name_hash.h"

namespace oxtrel {

namespace {

Error backslashIn(const std::string& path) {
  return {ErrorKind::unstorableName, 0,
          "'" + path + "' has a '\\' in its name, which oxtrel reads as a folder separator"};
}

bool holdsBackslash(const std::string& name) { return name.find('\\') != std::string::npos; }

}  // namespace

Result<CataloguePlan> planCatalogue(const std::vector<ScannedDirectory>& directories) {
  CataloguePlan plan;
  std::map<NameHash, const ScannedFile*> byHash;
  for (const ScannedDirectory& directory : directories) {
    PlannedFolder folder;
    for (const std::string& component : directory.components) {
      if (holdsBackslash(component)) return backslashIn(directory.path);
      folder.name += (folder.name.empty() ? "" : "\\") + component;
    }
    if (folder.name.size() > kMaxFolderNameLength)
      return Error{ErrorKind::folderNameTooLong, 0,
                   "the folder name of '" + directory.path + "' is " + std::to_string(folder.name.size()) +
                       " bytes long; at most " + std::to_string(kMaxFolderNameLength) + " fit in an archive"};
    folder.hash = computeNameHash(folder.name, {});

    for (const ScannedFile& file : directory.files) {
      if (holdsBackslash(file.name)) return backslashIn(file.path);
      NameHash hash = hashFileName(file.name);
      auto [it, inserted] = byHash.try_emplace(hash, &file);
      if (!inserted && it->second->name != file.name)
        return Error{ErrorKind::nameCollision, 0,
                     "'" + it->second->path + "' and '" + file.path +
                         "' have the same name hash (names that differ only in case do), so "
                         "one would be extracted under the other's name"};
      folder.files.push_back({file.name, file.path, file.kept ? file.kept->size : file.size, hash, file.contents, file.kept});
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
