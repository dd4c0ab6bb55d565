#include "pack/tree_scan.h"

#include <algorithm>
#include <cerrno>

#include "pack/pack_stop.h"

namespace oxtrel {

namespace {

struct PendingDirectory {
  std::string path;
  std::vector<std::string> components;
};

using Entry = platform::DirectoryEntry;

std::string childPath(const std::string& directory, const std::string& name) {
  return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

Error unreadableDirectory(const std::string& path, int error) {
  return {ErrorKind::cannotRead, error, "directory '" + path + "'"};
}

// Lists the directory at path with each entry's own status (links are not followed), in byte
// order of the names. A failure names the directory or the entry that could not be read.
Status listDirectory(const std::string& path, bool followLink, std::vector<Entry>& entries) {
  std::string failedEntry;
  platform::SystemError error = platform::listDirectory(path, followLink, entries, failedEntry);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  if (error == 0) return {};
  if (failedEntry.empty()) return unreadableDirectory(path, error);
  // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on "'" + std::string&&.
  std::string where = "'";
  where.append(childPath(path, failedEntry)).push_back('\'');
  return Error{ErrorKind::cannotRead, error, std::move(where)};
}

}  // namespace

Result<TreeScan> scanTree(const std::string& directory, std::optional<FileIdentity> exclude,
                          const std::atomic<int>* stop) {
  TreeScan scan;
  std::vector<PendingDirectory> pending{{directory, {}}};
  while (!pending.empty()) {
    if (stopRequested(stop)) return packStopped();
    PendingDirectory current = std::move(pending.back());
    pending.pop_back();

    std::vector<Entry> entries;
    if (Status listed = listDirectory(current.path, current.components.empty(), entries); !listed)
      return std::move(listed.error());

    ScannedDirectory found{current.path, current.components, {}};
    std::vector<PendingDirectory> below;
    for (const Entry& entry : entries) {
      const platform::FileStatus& st = entry.status;
      std::string path = childPath(current.path, entry.name);
      if (exclude && st.identity == *exclude) continue;
      if (st.kind == platform::FileKind::regular) {
        found.files.push_back({entry.name, path, st.size});
      } else if (st.kind == platform::FileKind::directory) {
        std::vector<std::string> components = current.components;
        components.push_back(entry.name);
        below.push_back({path, std::move(components)});
      } else if (st.kind == platform::FileKind::symbolicLink) {
        scan.skipped.push_back(path + ": symbolic link, not followed");
      } else {
        scan.skipped.push_back(path + ": not a regular file");
      }
    }
    if (!found.files.empty()) scan.directories.push_back(std::move(found));
    // Reversed onto the stack so that subdirectories are visited in name order.
    pending.insert(pending.end(), std::make_move_iterator(below.rbegin()),
                   std::make_move_iterator(below.rend()));
  }
  return scan;
}

}  // namespace oxtrel
