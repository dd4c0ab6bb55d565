#pragma once

// Joins FileRecords to names: the names of the name block that some file record asks for, keyed
// by their name hash. Names nobody asks for are hashed and dropped, so the index grows with the
// file records rather than with the name block.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/archive_records.h"
#include "catalogue/catalogue_loader.h"
#include "common/result.h"
#include "io/positional_file.h"

namespace oxtrel {

inline constexpr uint32_t kNameNotFound = UINT32_MAX;  // offset of a key no name matched

// names[i] is the last name of the block whose hash is keys[i], or kNameNotFound. Keys are a
// hash's bytes read big-endian, so that they order as the bytes do. Sorted flat arrays rather than
// a tree, with the keys apart from the names: the binary search of a lookup per extracted file
// stays in a small array that the cache holds.
struct NameIndex {
  std::vector<uint64_t> keys;   // ascending, unique
  std::vector<uint32_t> names;  // where each name begins in text
  std::string text;             // the names found, one after another, each ended by a NUL
};

uint64_t nameKey(const NameHash& hash);

// The key of every file record's hash, in table order (duplicates kept).
std::vector<uint64_t> requestedNameKeys(const Catalogue& catalogue);

// Hashes fileCount NUL-terminated names taken one after another from nameBlock and keeps those
// whose key is wanted. A later name with the same hash replaces an earlier one. Stops at the end
// of the block even when it holds fewer names than fileCount; a last name that runs to the end
// without a NUL ends there.
NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount, std::vector<uint64_t> wanted);

// The same over the archive's bytes [offset, offset + length), read a piece of about chunkSize
// bytes at a time: memory stays with the wanted names even for a huge or sparse block. A failed
// read is cannotRead, where "name block".
Result<NameIndex> readNameIndex(const PositionalFile& file, uint64_t offset, uint32_t length, uint32_t fileCount,
                                std::vector<uint64_t> wanted, size_t chunkSize = size_t(1) << 20);

// The name stored for hash, or nullopt when there is none.
std::optional<std::string_view> lookup(const NameIndex& index, const NameHash& hash);

}  // namespace oxtrel
