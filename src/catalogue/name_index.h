#pragma once

// Joins FileRecords to names: every name of the name block, keyed by its name hash.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/archive_records.h"

namespace oxtrel {

// At most one name per hash; names[i] is the name of keys[i], a hash's bytes read big-endian so
// that keys order as the bytes do. Sorted flat arrays rather than a tree, with the keys apart
// from the names: the binary search of a lookup per extracted file stays in a small array that
// the cache holds, instead of chasing a chain of nodes.
struct NameIndex {
  std::vector<uint64_t> keys;  // ascending
  std::vector<std::string> names;
};

// Hashes fileCount NUL-terminated names taken one after another from nameBlock. A later name
// with the same hash replaces an earlier one. Stops at the end of the block even when it holds
// fewer names than fileCount; a last name that runs to the end without a NUL ends there.
NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount);

// The name stored for hash, or nullptr when there is none.
const std::string* lookup(const NameIndex& index, const NameHash& hash);

}  // namespace oxtrel
