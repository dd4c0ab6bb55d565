#pragma once

// Temporary stand-in until the shared JSON text module lands.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace oxtrel {

void appendJsonString(std::string& out, std::string_view bytes);
bool isValidUtf8(std::string_view bytes);
void appendHex(std::string& out, std::span<const uint8_t> bytes);

}  // namespace oxtrel
