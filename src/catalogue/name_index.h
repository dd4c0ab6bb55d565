#pragma once

// Joins FileRecords to names: every name of the name block, keyed by its name hash.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "catalogue/archive_records.h"

namespace oxtrel {

// Ordered by the hash bytes; at most one name per hash.
using NameIndex = std::map<NameHash, std::string>;

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
