#pragma once

// Text for machine-readable output: JSON strings that are always valid UTF-8, and hex.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace oxtrel {

// Valid UTF-8: shortest-form sequences of scalar values only. Overlong forms, the surrogates
// U+D800..U+DFFF, values above U+10FFFF, stray continuation bytes, bytes 0xC0, 0xC1, 0xF5..0xFF
// and sequences cut short are invalid.
bool isValidUtf8(std::string_view bytes);

// Appends bytes as a quoted JSON string. `"` and `\` are escaped; bytes below 0x20 become \b \t
// \n \f \r or \u00xx, and 0x7F becomes \u007f (lower-case hex). Valid UTF-8 sequences are copied
// as they are; each byte that does not start a valid sequence becomes U+FFFD, so a sequence cut
// short yields one U+FFFD per byte. The result is valid UTF-8 whatever the input.
void appendJsonString(std::string& out, std::string_view bytes);

// Appends "key": and bytes as a JSON string; when bytes are not valid UTF-8, also ,"hexKey": and
// their hex, so the exact bytes survive.
void appendJsonBytesField(std::string& out, std::string_view key, std::string_view bytes, std::string_view hexKey);

// Appends two lower-case hex digits per byte.
void appendHex(std::string& out, std::span<const uint8_t> bytes);

}  // namespace oxtrel
