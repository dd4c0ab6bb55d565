#pragma once

// Telling another archive or compressed format from a .vrk archive by its well-known
// identification bytes, so that a tar, zip, gzip or 7z file is refused instead of opening as an
// archive of nothing. A .vrk archive's first word is not read by anything else, so every archive
// whose first bytes are not one of these signatures opens as before.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace oxtrel {

// The bytes foreignFormat looks at: a tar header's length.
inline constexpr size_t kForeignProbeBytes = 512;

// What head (the file's first kForeignProbeBytes bytes, or the whole of a shorter file) says the
// file is, in words for a message ("tar archive", "zip archive", "gzip file", "7z archive"); none
// when it does not positively identify as one of them. An archive that carries this program's
// own identification word is never taken for another format.
std::optional<std::string_view> foreignFormat(std::span<const uint8_t> head);

}  // namespace oxtrel
