#include "extract/write_order.h"

#include <algorithm>
#include <climits>
#include <string>
#include <unordered_map>

#include "catalogue/entry_path.h"
#include "platform/platform.h"

namespace oxtrel {

namespace {

constexpr uint64_t kDataKey = 0x6a09e667f3bcc908u;
constexpr uint32_t kNone = UINT32_MAX;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// A component is keyed by the file system's idea of its name, so that two spellings of one file
// (case twins on Windows) are one path here too.
uint64_t childKey(uint64_t parent, std::string_view component) {
  thread_local std::string folded;
  // splitmix64's finaliser over the parent key and the component's own hash.
  uint64_t x = parent ^ (std::hash<std::string_view>{}(platform::nameKey(component, folded)) + 0x9e3779b97f4a7c15u);
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

// Calls f on every component of text, the empty ones too; stops and returns false when f does.
template <typename F>
bool eachComponent(std::string_view text, F f) {
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !isSeparator(text[i])) continue;
    if (!f(text.substr(start, i - start))) return false;
    start = i + 1;
  }
  return true;
}

enum class Touch : uint8_t { nothing, directories, file };

// An entry's path as the writer splits it: the keys of every directory it needs, from the
// outermost, and the key of the file it writes or the directory it asks the existence of.
struct SplitPath {
  Touch touch = Touch::nothing;
  bool observes = false;  // the file name is ".": ownKey is the innermost directory
  uint64_t ownKey = 0;
  std::vector<uint64_t> directories;
};

// Splits paths one after another; consecutive entries mostly share their folder, whose keys are
// then taken from the previous entry.
struct PathSplitter {
  std::string_view folder;
  bool folderKnown = false;
  bool folderUnsafe = false;
  size_t folderKeys = 0;  // directories[0, folderKeys) are the folder's
  SplitPath split;

  const SplitPath& operator()(const EntryPathParts& path) {
    split.touch = Touch::nothing;
    if (!path.present) return split;
    if (sizeof kDataRoot + path.folder.size() + 1 + path.name.size() >= PATH_MAX) return split;
    if (!folderKnown || path.folder != folder) {
      folder = path.folder;
      folderKnown = true;
      split.directories.clear();
      uint64_t key = kDataKey;
      folderUnsafe = !eachComponent(folder, [&](std::string_view c) {
        if (c == ".." || !platform::nameAllowed(c)) return false;
        if (!c.empty() && c != ".") split.directories.push_back(key = childKey(key, c));
        return true;
      });
      folderKeys = split.directories.size();
    }
    if (folderUnsafe) return split;
    split.directories.resize(folderKeys);
    uint64_t key = folderKeys == 0 ? kDataKey : split.directories.back();
    size_t nameStart = path.name.find_last_of("/\\");
    nameStart = nameStart == std::string_view::npos ? 0 : nameStart + 1;
    std::string_view fileName = path.name.substr(nameStart);
    if (fileName == ".." || !platform::nameAllowed(fileName)) return split;
    if (nameStart > 0 && !eachComponent(path.name.substr(0, nameStart - 1), [&](std::string_view c) {
          if (c == ".." || !platform::nameAllowed(c)) return false;
          if (!c.empty() && c != ".") split.directories.push_back(key = childKey(key, c));
          return true;
        }))
      return split;
    split.observes = fileName == ".";
    split.touch = fileName.empty() || split.observes ? Touch::directories : Touch::file;
    split.ownKey = split.touch == Touch::file ? childKey(key, fileName) : key;
    return split;
  }
};

// A path that two entries meet at: some entry writes a file there and another writes the same
// file or needs it as a directory, or some entry asks whether it exists.
struct PathState {
  bool written = false;
  bool observed = false;
  uint32_t lastWriter = kNone;                 // the latest entry so far that writes a file here
  std::vector<uint32_t> needersSinceWriter;    // entries since then that need it as a directory
  uint32_t lastObserver = kNone;               // the latest entry so far that asks if it exists
  std::vector<uint32_t> needersSinceObserver;  // entries since then that need it (so may make it)
};

bool contains(const std::vector<uint64_t>& sorted, uint64_t key) {
  return std::binary_search(sorted.begin(), sorted.end(), key);
}

// The paths entries meet at. Most files are written once and are no one's directory: they get no
// state, so memory follows the meetings rather than the entries.
std::unordered_map<uint64_t, PathState> meetingPaths(size_t count,
                                                     const std::function<EntryPathParts(size_t)>& pathOf) {
  std::vector<uint64_t> files;
  std::unordered_map<uint64_t, PathState> states;
  PathSplitter splitter;
  for (size_t i = 0; i < count; ++i) {
    const SplitPath& split = splitter(pathOf(i));
    if (split.touch == Touch::file) files.push_back(split.ownKey);
    if (split.observes) states[split.ownKey].observed = true;
  }
  std::sort(files.begin(), files.end());
  for (size_t i = 1; i < files.size(); ++i)
    if (files[i] == files[i - 1]) states[files[i]].written = true;
  if (files.empty()) return states;
  splitter = {};
  for (size_t i = 0; i < count; ++i) {
    const SplitPath& split = splitter(pathOf(i));
    if (split.touch == Touch::nothing) continue;
    for (uint64_t dir : split.directories)
      if (contains(files, dir)) states[dir].written = true;
  }
  return states;
}

}  // namespace

WriteOrder planWriteOrder(size_t count, const std::function<EntryPathParts(size_t)>& pathOf) {
  std::unordered_map<uint64_t, PathState> states = meetingPaths(count, pathOf);
  WriteOrder order;
  if (states.empty()) return order;
  order.first.reserve(count + 1);
  // Every entry that touches the tree may make `data` itself.
  auto data = states.find(kDataKey);
  PathSplitter splitter;
  for (size_t i = 0; i < count; ++i) {
    size_t begin = order.waits.size();
    order.first.push_back(uint32_t(begin));
    const SplitPath& split = splitter(pathOf(i));
    if (split.touch == Touch::nothing) continue;
    auto entry = uint32_t(i);
    auto need = [&](PathState& state) {
      if (state.written) {
        if (state.lastWriter != kNone) order.waits.push_back(state.lastWriter);
        state.needersSinceWriter.push_back(entry);
      }
      if (state.observed) {
        if (state.lastObserver != kNone) order.waits.push_back(state.lastObserver);
        state.needersSinceObserver.push_back(entry);
      }
    };
    if (data != states.end()) need(data->second);
    for (uint64_t dir : split.directories) {
      auto found = states.find(dir);
      if (found != states.end()) need(found->second);
    }
    auto own = split.touch == Touch::file || split.observes ? states.find(split.ownKey) : states.end();
    if (own != states.end() && split.touch == Touch::file) {
      PathState& state = own->second;
      if (state.lastWriter != kNone) order.waits.push_back(state.lastWriter);
      order.waits.insert(order.waits.end(), state.needersSinceWriter.begin(), state.needersSinceWriter.end());
      state.needersSinceWriter.clear();
      state.lastWriter = entry;
    } else if (own != states.end()) {
      PathState& state = own->second;
      if (state.lastObserver != kNone) order.waits.push_back(state.lastObserver);
      order.waits.insert(order.waits.end(), state.needersSinceObserver.begin(), state.needersSinceObserver.end());
      state.needersSinceObserver.clear();
      state.lastObserver = entry;
    }
    auto slice = order.waits.begin() + std::ptrdiff_t(begin);
    std::sort(slice, order.waits.end());
    order.waits.erase(std::unique(slice, order.waits.end()), order.waits.end());
    // An entry that observes a directory it needs itself, or a hash collision, would wait for itself.
    if (order.waits.size() > begin && order.waits.back() == entry) order.waits.pop_back();
  }
  order.first.push_back(uint32_t(order.waits.size()));
  return order;
}

WriteOrder planWriteOrder(std::span<const std::string_view> paths) {
  return planWriteOrder(paths.size(), [&](size_t i) {
    std::string_view path = paths[i];
    size_t last = path.find_last_of("/\\");
    if (last == std::string_view::npos) return EntryPathParts{!path.empty(), {}, path};
    return EntryPathParts{true, path.substr(0, last), path.substr(last + 1)};
  });
}

}  // namespace oxtrel
