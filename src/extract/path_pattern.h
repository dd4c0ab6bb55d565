#pragma once

// Temporary stand-in until the shared pattern module lands.

#include <string>
#include <string_view>

namespace oxtrel {

bool matchesPathPattern(std::string_view pattern, std::string_view path);
std::string patternPath(std::string_view folder, std::string_view name);

}  // namespace oxtrel
