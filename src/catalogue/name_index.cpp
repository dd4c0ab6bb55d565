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

// A name's key and its position in the name block: small and trivially copied, so sorting
// them does not move strings around.
struct KeyedPosition {
  uint64_t key = 0;
  uint32_t position = 0;
};

// Among equal keys the later name wins, so ties are ordered by position.
bool keyThenPositionLess(const KeyedPosition& a, const KeyedPosition& b) {
  return a.key != b.key ? a.key < b.key : a.position < b.position;
}

}  // namespace

NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount) {
  std::vector<std::string_view> names;
  std::vector<KeyedPosition> keyed;
  const char* pos = reinterpret_cast<const char*>(nameBlock.data());
  const char* end = pos + nameBlock.size();
  for (uint32_t i = 0; i < fileCount && pos < end; ++i) {
    const char* nul = std::find(pos, end, '\0');
    std::string_view name(pos, size_t(nul - pos));
    keyed.push_back({keyOf(hashFileName(name)), i});
    names.push_back(name);
    pos = nul == end ? end : nul + 1;
  }
  std::sort(keyed.begin(), keyed.end(), keyThenPositionLess);
  NameIndex index;
  for (size_t i = 0; i < keyed.size(); ++i) {
    if (i + 1 < keyed.size() && keyed[i + 1].key == keyed[i].key) continue;  // a later name follows
    index.keys.push_back(keyed[i].key);
    index.names.emplace_back(names[keyed[i].position]);
  }
  return index;
}

const std::string* lookup(const NameIndex& index, const NameHash& hash) {
  uint64_t key = keyOf(hash);
  auto it = std::lower_bound(index.keys.begin(), index.keys.end(), key);
  return it != index.keys.end() && *it == key ? &index.names[size_t(it - index.keys.begin())] : nullptr;
}

}  // namespace oxtrel
