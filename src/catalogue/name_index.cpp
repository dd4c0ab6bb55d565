#include "catalogue/name_index.h"

#include <algorithm>

#include "catalogue/name_hash.h"

namespace oxtrel {

namespace {

uint64_t keyOf(const NameHash& hash) {
  uint64_t key = 0;
  for (uint8_t b : hash) key = key << 8 | b;
  return key;
}

struct NamedHash {
  uint64_t key = 0;
  uint32_t position = 0;  // in the name block: among equal keys the later name wins
  std::string name;
};

bool keyThenPositionLess(const NamedHash& a, const NamedHash& b) {
  return a.key != b.key ? a.key < b.key : a.position < b.position;
}

}  // namespace

SplitName splitAtLastDot(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {name, {}};
  return {name.substr(0, dot), name.substr(dot)};
}

NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount) {
  std::vector<NamedHash> named;
  const char* pos = reinterpret_cast<const char*>(nameBlock.data());
  const char* end = pos + nameBlock.size();
  for (uint32_t i = 0; i < fileCount && pos < end; ++i) {
    const char* nul = std::find(pos, end, '\0');
    std::string_view name(pos, size_t(nul - pos));
    SplitName split = splitAtLastDot(name);
    named.push_back({keyOf(computeNameHash(split.base, split.extension)), i, std::string(name)});
    pos = nul == end ? end : nul + 1;
  }
  std::sort(named.begin(), named.end(), keyThenPositionLess);
  NameIndex index;
  for (size_t i = 0; i < named.size(); ++i) {
    if (i + 1 < named.size() && named[i + 1].key == named[i].key) continue;  // a later name follows
    index.keys.push_back(named[i].key);
    index.names.push_back(std::move(named[i].name));
  }
  return index;
}

const std::string* lookup(const NameIndex& index, const NameHash& hash) {
  uint64_t key = keyOf(hash);
  auto it = std::lower_bound(index.keys.begin(), index.keys.end(), key);
  return it != index.keys.end() && *it == key ? &index.names[size_t(it - index.keys.begin())] : nullptr;
}

}  // namespace oxtrel
