#include "extract/write_order.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

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
    std::string_view component = path.substr(start, i - start);
    if (component == ".." || !platform::nameAllowed(component)) return {};
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

// A path that some entry writes a file at, or asks the existence of as a directory.
struct PathState {
  bool written = false;
  bool observed = false;
  uint32_t lastWriter = kNone;                 // the latest entry so far that writes a file here
  std::vector<uint32_t> needersSinceWriter;    // entries since then that need it as a directory
  uint32_t lastObserver = kNone;               // the latest entry so far that asks if it exists
  std::vector<uint32_t> needersSinceObserver;  // entries since then that need it (so may make it)
};

}  // namespace

WriteOrder planWriteOrder(std::span<const std::string_view> paths) {
  std::vector<ParsedPath> parsed(paths.size());
  std::vector<uint64_t> ownKey(paths.size());  // the file's path, or the observed directory's
  std::unordered_map<uint64_t, PathState> states;

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
    if (parsed[i].touch == Touch::nothing) continue;
    const std::vector<uint64_t>& dirs = keysFor(parsed[i].directoryText);
    uint64_t innermost = dirs.empty() ? kDataKey : dirs.back();
    if (parsed[i].touch == Touch::file) {
      ownKey[i] = childKey(innermost, parsed[i].fileName);
      states[ownKey[i]].written = true;
    } else if (parsed[i].fileName == ".") {
      ownKey[i] = innermost;
      states[ownKey[i]].observed = true;
    }
  }
  // Every entry that touches the tree may make `data` itself.
  auto data = states.find(kDataKey);

  // Only paths in states can order anything.
  WriteOrder order;
  order.first.reserve(paths.size() + 1);
  for (size_t i = 0; i < paths.size(); ++i) {
    size_t begin = order.waits.size();
    order.first.push_back(uint32_t(begin));
    if (parsed[i].touch == Touch::nothing || states.empty()) continue;
    auto entry = uint32_t(i);
    auto need = [&](PathState& state) {
      if (state.written) {
        if (state.lastWriter != kNone) order.waits.push_back(state.lastWriter);
        state.needersSinceWriter.push_back(entry);
      }
      if (state.observed) state.needersSinceObserver.push_back(entry);
    };
    if (data != states.end()) need(data->second);
    for (uint64_t dir : keysFor(parsed[i].directoryText)) {
      auto found = states.find(dir);
      if (found != states.end()) need(found->second);
    }
    if (parsed[i].touch == Touch::file) {
      PathState& state = states[ownKey[i]];
      if (state.lastWriter != kNone) order.waits.push_back(state.lastWriter);
      order.waits.insert(order.waits.end(), state.needersSinceWriter.begin(), state.needersSinceWriter.end());
      state.needersSinceWriter.clear();
      state.lastWriter = entry;
    } else if (parsed[i].fileName == ".") {
      PathState& state = states[ownKey[i]];
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

}  // namespace oxtrel
