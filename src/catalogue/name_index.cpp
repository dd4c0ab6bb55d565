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

bool keyLess(const NamedHash& a, const NamedHash& b) { return a.key < b.key; }

}  // namespace

SplitName splitAtLastDot(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {name, {}};
  return {name.substr(0, dot), name.substr(dot)};
}

NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount) {
  NameIndex index;
  const char* pos = reinterpret_cast<const char*>(nameBlock.data());
  const char* end = pos + nameBlock.size();
  for (uint32_t i = 0; i < fileCount && pos < end; ++i) {
    const char* nul = std::find(pos, end, '\0');
    std::string_view name(pos, size_t(nul - pos));
    SplitName split = splitAtLastDot(name);
    index.push_back({keyOf(computeNameHash(split.base, split.extension)), std::string(name)});
    pos = nul == end ? end : nul + 1;
  }
  // Stable, so among equal keys the block's order stays and the last of each run is the later name.
  std::stable_sort(index.begin(), index.end(), keyLess);
  auto kept = index.begin();
  for (auto it = index.begin(); it != index.end(); ++it) {
    if (std::next(it) != index.end() && std::next(it)->key == it->key) continue;
    if (kept != it) *kept = std::move(*it);
    ++kept;
  }
  index.erase(kept, index.end());
  return index;
}

const std::string* lookup(const NameIndex& index, const NameHash& hash) {
  uint64_t key = keyOf(hash);
  auto it = std::lower_bound(index.begin(), index.end(), key,
                             [](const NamedHash& entry, uint64_t k) { return entry.key < k; });
  return it != index.end() && it->key == key ? &it->name : nullptr;
}

}  // namespace oxtrel
