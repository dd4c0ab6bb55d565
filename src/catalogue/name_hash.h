#pragma once

// The 64-bit name hash that a FileRecord carries instead of its file's name.
//
// For base name b of length n and extension e (the last '.' and what follows it):
//   byte 0  lower(b[n-1])            (0 when n is 0)
//   byte 1  lower(b[n-2]) if n > 2, else 0
//   byte 2  n mod 256
//   byte 3  lower(b[0])              (0 when n is 0)
//   4..7    LE32 of hashSpan(b[1] .. b[n-3]) + hashSpan(e)
// then, for the first entry of {"", ".nif", ".kf", ".dds", ".wav"} equal to e ignoring ASCII
// case, with index k: byte 3 += (k & ~3) * 32, byte 0 += (k & ~1) * 64, byte 1 += k * 128, each
// an 8-bit wrapping add. lower() folds only 'A'..'Z'; it works on the byte as a signed value.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/archive_records.h"

namespace oxtrel {

// h = h * 65599 + lower(c) over the bytes, with c taken as signed (bytes >= 0x80 add a negative
// value), in 32-bit unsigned arithmetic. 0 for an empty span.
uint32_t hashSpan(std::string_view bytes);

// An empty extension adds nothing to bytes 4..7 and no marks: a folder name is hashed so.
NameHash computeNameHash(std::string_view base, std::string_view extension);

struct SplitName {
  std::string_view base;       // everything before the last '.'
  std::string_view extension;  // the last '.' and what follows; empty when there is no '.'
};

SplitName splitAtLastDot(std::string_view name);

// The hash a FileRecord carries for a full file name: split at the last '.', then hashed.
NameHash hashFileName(std::string_view fullName);

}  // namespace oxtrel
