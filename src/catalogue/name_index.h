#pragma once

// Joins FileRecords to names: every name of the name block, keyed by its name hash.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/archive_records.h"

namespace oxtrel {

struct NamedHash {
  uint64_t key = 0;  // the hash bytes read big-endian, so that keys order as the bytes do
  std::string name;
};

// Sorted by key, at most one name per hash. A flat sorted array rather than a tree: a lookup
// per extracted file then touches a few adjacent cache lines instead of a chain of nodes.
using NameIndex = std::vector<NamedHash>;

struct SplitName {
  std::string_view base;       // everything before the last '.'
  std::string_view extension;  // the last '.' and what follows; empty when there is no '.'
};

SplitName splitAtLastDot(std::string_view name);

// Hashes fileCount NUL-terminated names taken one after another from nameBlock. A later name
// with the same hash replaces an earlier one. Stops at the end of the block even when it holds
// fewer names than fileCount; a last name that runs to the end without a NUL ends there.
NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount);

// The name stored for hash, or nullptr when there is none.
const std::string* lookup(const NameIndex& index, const NameHash& hash);

}  // namespace oxtrel
