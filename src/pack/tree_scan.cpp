#include "pack/tree_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pack/pack_stop.h"

namespace oxtrel {

namespace {

struct PendingDirectory {
  std::string path;
  std::vector<std::string> components;
};

struct Entry {
  std::string name;
  struct stat status;
};

std::string childPath(const std::string& directory, const std::string& name) {
  return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

// Lists the directory at path with each entry's own status (links are not followed), in byte
// order of the names. A failure names the directory or the entry that could not be read.
Error unreadableDirectory(const std::string& path, int error) {
  return {ErrorKind::cannotRead, error, "directory '" + path + "'"};
}

Status listDirectory(const std::string& path, bool followLink, std::vector<Entry>& entries) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (!dir) {
    int error = errno;
    if (fd >= 0) close(fd);
    return unreadableDirectory(path, error);
  }
  Status status;
  errno = 0;
  while (const dirent* d = readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    Entry entry{d->d_name, {}};
    if (fstatat(dirfd(dir), d->d_name, &entry.status, AT_SYMLINK_NOFOLLOW) != 0) {
      int error = errno;
      // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on "'" + std::string&&.
      std::string where = "'";
      where.append(childPath(path, entry.name)).push_back('\'');
      status = Error{ErrorKind::cannotRead, error, std::move(where)};
      break;
    }
    entries.push_back(std::move(entry));
    errno = 0;
  }
  if (status && errno != 0) status = unreadableDirectory(path, errno);
  closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return status;
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
      const struct stat& st = entry.status;
      std::string path = childPath(current.path, entry.name);
      if (exclude && st.st_dev == exclude->device && st.st_ino == exclude->inode) continue;
      if (S_ISREG(st.st_mode)) {
        found.files.push_back({entry.name, path, uint64_t(st.st_size)});
      } else if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> components = current.components;
        components.push_back(entry.name);
        below.push_back({path, std::move(components)});
      } else if (S_ISLNK(st.st_mode)) {
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
