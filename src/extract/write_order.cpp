#include "extract/write_order.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <unordered_set>

namespace oxtrel {

namespace {

constexpr uint64_t kDataKey = 0x6a09e667f3bcc908u;
constexpr uint32_t kNone = UINT32_MAX;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

uint64_t childKey(uint64_t parent, std::string_view component) {
  // splitmix64's finaliser over the parent key and the component's own hash.
  uint64_t x = parent ^ (std::hash<std::string_view>{}(component) + 0x9e3779b97f4a7c15u);
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

enum class Touch : uint8_t { nothing, directories, file };

// An entry's path, split as the writer splits it.
struct ParsedPath {
  Touch touch = Touch::nothing;
  std::string_view directoryText;  // up to and including the last separator
  std::string_view fileName;
};

ParsedPath parsePath(std::string_view path) {
  if (path.empty()) return {};
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !isSeparator(path[i])) continue;
    if (path.substr(start, i - start) == "..") return {};
    start = i + 1;
  }
  size_t last = path.find_last_of("/\\");
  size_t nameStart = last == std::string_view::npos ? 0 : last + 1;
  ParsedPath parsed{Touch::file, path.substr(0, nameStart), path.substr(nameStart)};
  if (parsed.fileName.empty() || parsed.fileName == ".") parsed.touch = Touch::directories;
  return parsed;
}

// The keys of every directory the text names, from the outermost; the last is the innermost.
void directoryKeys(std::string_view text, std::vector<uint64_t>& keys) {
  keys.clear();
  uint64_t key = kDataKey;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!isSeparator(text[i])) continue;
    std::string_view component = text.substr(start, i - start);
    start = i + 1;
    if (component.empty() || component == ".") continue;
    key = childKey(key, component);
    keys.push_back(key);
  }
}

struct PathState {
  uint32_t lastWriter = kNone;     // the latest entry so far that writes a file here
  std::vector<uint32_t> needers;  // entries since then that need this path as a directory
};

}  // namespace

WriteOrder planWriteOrder(std::span<const std::string_view> paths) {
  std::vector<ParsedPath> parsed(paths.size());
  std::vector<uint64_t> fileKey(paths.size());
  std::unordered_set<uint64_t> writtenFiles;
  writtenFiles.reserve(paths.size());

  // Consecutive entries mostly share their folder, so its keys are computed once per folder.
  std::vector<uint64_t> keys;
  std::string_view keysOf;
  bool keysValid = false;
  auto keysFor = [&](std::string_view text) -> const std::vector<uint64_t>& {
    if (!keysValid || text != keysOf) {
      directoryKeys(text, keys);
      keysOf = text;
      keysValid = true;
    }
    return keys;
  };

  for (size_t i = 0; i < paths.size(); ++i) {
    parsed[i] = parsePath(paths[i]);
    if (parsed[i].touch != Touch::file) continue;
    const std::vector<uint64_t>& dirs = keysFor(parsed[i].directoryText);
    fileKey[i] = childKey(dirs.empty() ? kDataKey : dirs.back(), parsed[i].fileName);
    writtenFiles.insert(fileKey[i]);
  }

  // Only paths that some entry writes a file at can order anything.
  std::unordered_map<uint64_t, PathState> states;
  states.reserve(writtenFiles.size());
  WriteOrder order;
  order.first.reserve(paths.size() + 1);
  for (size_t i = 0; i < paths.size(); ++i) {
    size_t begin = order.waits.size();
    order.first.push_back(uint32_t(begin));
    if (parsed[i].touch == Touch::nothing || writtenFiles.empty()) continue;
    auto entry = uint32_t(i);
    for (uint64_t dir : keysFor(parsed[i].directoryText)) {
      if (!writtenFiles.contains(dir)) continue;
      PathState& state = states[dir];
      if (state.lastWriter != kNone) order.waits.push_back(state.lastWriter);
      state.needers.push_back(entry);
    }
    if (parsed[i].touch == Touch::file) {
      PathState& state = states[fileKey[i]];
      if (state.lastWriter != kNone) order.waits.push_back(state.lastWriter);
      order.waits.insert(order.waits.end(), state.needers.begin(), state.needers.end());
      state.needers.clear();
      state.lastWriter = entry;
    }
    auto slice = order.waits.begin() + std::ptrdiff_t(begin);
    std::sort(slice, order.waits.end());
    order.waits.erase(std::unique(slice, order.waits.end()), order.waits.end());
    // Only a hash collision could make an entry wait for itself.
    if (order.waits.size() > begin && order.waits.back() == entry) order.waits.pop_back();
  }
  order.first.push_back(uint32_t(order.waits.size()));
  return order;
}

}  // namespace oxtrel
