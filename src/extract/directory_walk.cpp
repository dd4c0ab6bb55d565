#include "extract/directory_walk.h"

#include <algorithm>
#include <cerrno>

#include "catalogue/entry_path.h"

namespace oxtrel {

namespace {

Error failure(platform::SystemError error) {
  if (error == ELOOP || error == EXDEV) return {ErrorKind::unsafePath, error, {}};
  return {ErrorKind::cannotWrite, error, {}};
}

// `data` may itself be a symbolic link: the user put it there, so it is followed.
Result<platform::NativeHandle> openData(DirectoryCache& cache, bool create) {
  if (!cache.data.valid()) {
    platform::SystemError error = platform::openDirectoryAt(cache.parent, kDataRoot, create, cache.data);
    if (error != 0) return Error{ErrorKind::cannotWrite, error, {}};
  }
  return cache.data.get();
}

void makeDirectoryKey(const OutputPath& path, std::string& key) {
  key.clear();
  for (std::string_view d : path.directories) key.append(d).push_back('/');
}

// Whether key is the directory key of path, without building it: asked twice per entry.
bool isDirectoryKey(const OutputPath& path, std::string_view key) {
  for (std::string_view d : path.directories) {
    if (key.size() <= d.size() || key.substr(0, d.size()) != d || key[d.size()] != '/') return false;
    key.remove_prefix(d.size() + 1);
  }
  return key.empty();
}

}  // namespace

Result<OpenDirectory*> openDirectory(DirectoryCache& cache, const OutputPath& path, bool create) {
  for (OpenDirectory& open : cache.openDirs) {
    if (open.handle.valid() && isDirectoryKey(path, open.key)) {
      open.lastUse = ++cache.uses;
      return &open;
    }
  }

  Result<platform::NativeHandle> data = openData(cache, create);
  if (!data) return std::move(data.error());

  // The walk starts at `data`, which the cache keeps open: the first step only borrows it.
  platform::Directory current;
  std::string name;
  for (std::string_view component : path.directories) {
    name.assign(component);
    platform::Directory next;
    platform::NativeHandle parent = current.valid() ? current.get() : *data;
    if (platform::SystemError error = platform::openChild(parent, name, create, next); error != 0) return failure(error);
    current = std::move(next);
  }
  // An entry straight below `data` writes into `data` itself, under its own handle.
  if (!current.valid()) {
    platform::SystemError error = platform::openDirectoryAt(*data, ".", false, current);
    if (error != 0) return failure(error);
  }
  OpenDirectory& slot = *std::min_element(cache.openDirs.begin(), cache.openDirs.end(),
                                           [](const OpenDirectory& a, const OpenDirectory& b) { return a.lastUse < b.lastUse; });
  slot.handle = std::move(current);
  makeDirectoryKey(path, slot.key);
  slot.lastUse = ++cache.uses;
  slot.swept = false;
  return &slot;
}

}  // namespace oxtrel
