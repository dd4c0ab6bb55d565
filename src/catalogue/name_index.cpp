#include "catalogue/name_index.h"

#include <algorithm>

#include "catalogue/name_hash.h"

namespace oxtrel {

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
    index.insert_or_assign(computeNameHash(split.base, split.extension), std::string(name));
    pos = nul == end ? end : nul + 1;
  }
  return index;
}

const std::string* lookup(const NameIndex& index, const NameHash& hash) {
  auto it = index.find(hash);
  return it == index.end() ? nullptr : &it->second;
}

}  // namespace oxtrel
