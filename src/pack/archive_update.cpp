#include "pack/archive_update.h"

#include <map>
#include <optional>
#include <set>

namespace oxtrel {

namespace {

using Components = std::vector<std::string>;

// The path as an extraction places it; nullopt when a ".." component would climb out of data.
std::optional<Components> componentsOf(const std::string& path) {
  Components components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (component == "..") return std::nullopt;
    if (!component.empty() && component != ".") components.push_back(std::move(component));
    start = end + 1;
  }
  return components;
}

std::string joined(const Components& components) {
  std::string path;
  for (const std::string& component : components) path += component + "/";
  return path;
}

// A tree cannot hold "a" as a file and as a folder at once, and extraction could write only one
// of them.
Status checkFileFolderClash(const std::map<Components, ScannedDirectory>& directories) {
  std::set<Components> folders;  // every folder and every folder above one
  for (const auto& [components, directory] : directories)
    for (size_t depth = 1; depth <= components.size(); ++depth)
      folders.emplace(components.begin(), components.begin() + ptrdiff_t(depth));
  for (const auto& [components, directory] : directories) {
    Components path = components;
    for (const ScannedFile& file : directory.files) {
      path.push_back(file.name);
      if (folders.contains(path)) {
        // Built by appending: g++ 12 warns falsely (-Wrestrict) on "'" + std::string&&.
        std::string shown = joined(path);
        shown.pop_back();  // the separator after the last component
        std::string where = "'";
        where.append(shown).append("' would be a file and also a folder of other entries");
        return Error{ErrorKind::invalidArgument, 0, std::move(where)};
      }
      path.pop_back();
    }
  }
  return {};
}

ScannedDirectory& directoryFor(std::map<Components, ScannedDirectory>& directories, const Components& components,
                               const std::string& path) {
  ScannedDirectory& directory = directories[components];
  if (directory.path.empty()) directory.path = path;
  directory.components = components;
  return directory;
}

}  // namespace

Result<UpdatePlan> planUpdate(const std::vector<OldEntry>& old, const TreeScan& tree) {
  UpdatePlan plan;
  std::map<Components, size_t> last;  // the record each path keeps: the last in table order
  for (size_t i = 0; i < old.size(); ++i) {
    const OldEntry& entry = old[i];
    if (entry.removed) {
      ++plan.removed;
      continue;
    }
    std::optional<Components> components = entry.broken.empty() ? componentsOf(entry.path) : std::nullopt;
    if (!components || components->empty()) {
      plan.notes.push_back(entry.where + ": " + (entry.broken.empty() ? "its path leaves data" : entry.broken));
      ++plan.broken;
      continue;
    }
    auto [it, inserted] = last.try_emplace(std::move(*components), i);
    if (!inserted) {
      plan.notes.push_back(old[it->second].where +
                           ": a later record at the same path takes its place, as in an extracted tree");
      it->second = i;
      ++plan.superseded;
    }
  }

  std::map<Components, ScannedDirectory> directories;
  for (const ScannedDirectory& scanned : tree.directories) {
    ScannedDirectory& directory = directoryFor(directories, scanned.components, scanned.path);
    Components path = scanned.components;
    for (const ScannedFile& file : scanned.files) {
      path.push_back(file.name);
      if (last.erase(path) != 0)
        ++plan.replaced;
      else
        ++plan.added;
      path.pop_back();
      directory.files.push_back(file);
    }
  }
  for (const auto& [components, index] : last) {
    const OldEntry& entry = old[index];
    Components folder(components.begin(), components.end() - 1);
    std::string name = components.back();
    ScannedDirectory& directory = directoryFor(directories, folder, joined(folder));
    directory.files.push_back({std::move(name), entry.path, entry.payload.size, {}, entry.payload});
    ++plan.kept;
  }

  if (Status clash = checkFileFolderClash(directories); !clash) return std::move(clash.error());
  std::vector<ScannedDirectory> merged;
  merged.reserve(directories.size());
  for (auto& [components, directory] : directories) merged.push_back(std::move(directory));
  Result<CataloguePlan> catalogue = planCatalogue(merged);
  if (!catalogue) return std::move(catalogue.error());
  plan.catalogue = std::move(*catalogue);
  return plan;
}

}  // namespace oxtrel
