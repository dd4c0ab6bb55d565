#pragma once

// Which earlier entries each entry of a parallel extraction must wait for, so that the tree and
// the console lines come out exactly as a sequential run's.
//
// An entry's output path below `data` is "<folder>\<name>", given as its two parts so that no
// path is ever composed here. A path is taken as the writer takes it: '/' and '\' both separate,
// empty and "." components name no directory of their own. Two entries depend on each other only
// through the file system:
//   - both write a file at the same path: the later waits for the earlier (so the later one's
//     file is what stays, and "kept existing" / replaced-link outcomes match);
//   - one writes a file at a path the other needs as a directory (or the reverse): the later
//     waits for the earlier (so the "not a directory" / "is a directory" / unsafe-link outcomes
//     match; directories are only ever made, never removed, so needing one is otherwise free);
//   - one's file name is ".", so that whether "it" exists (keep-existing) is whether its
//     directory does: it waits for every earlier entry that needs that directory, and every later
//     entry that needs it waits for it, since either may make it (for a folder with an empty
//     name, that is `data`, which every entry may make).
// An entry whose file name is empty or "." writes no file but still needs its directories. A path
// with a ".." component, or a name the system would misread (platform::nameAllowed), or one that
// reaches PATH_MAX once "data\" is put before it, is refused before the file system is looked at,
// and an entry without a path (an unmatched record, say) touches nothing: neither waits nor is
// waited for.
//
// Everything else runs freely. Paths are compared through 64-bit hashes of their components, each
// as the file system compares names (platform::nameKey: case-folded on Windows): a collision can
// only add a wait, never lose one.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace oxtrel {

struct WriteOrder {
  std::vector<uint32_t> first;  // entry i waits for waits[first[i] .. first[i + 1]); empty when no entry waits
  std::vector<uint32_t> waits;  // earlier entry indices, ascending per entry
};

struct EntryPathParts {
  bool present = false;  // false: the entry touches nothing
  std::string_view folder;
  std::string_view name;
};

// pathOf(i) is entry i's path, for i below count; it is asked twice per entry. Time is linear in
// the paths' total length plus the waits found; memory is a few words per entry plus one per
// path that two entries meet at, never the paths themselves.
WriteOrder planWriteOrder(size_t count, const std::function<EntryPathParts(size_t)>& pathOf);

// The same over whole paths "<folder>\<name>"; an empty one touches nothing.
WriteOrder planWriteOrder(std::span<const std::string_view> paths);

inline std::span<const uint32_t> waitsOf(const WriteOrder& order, size_t entry) {
  if (order.first.empty()) return {};
  return std::span<const uint32_t>(order.waits).subspan(order.first[entry], order.first[entry + 1] - order.first[entry]);
}

}  // namespace oxtrel
