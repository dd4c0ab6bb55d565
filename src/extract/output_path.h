#pragma once

// An entry's path below `data`, split into components. '\' and '/' both separate them.

#include <string_view>
#include <vector>

namespace oxtrel {

struct OutputPath {
  std::vector<std::string_view> directories;  // non-empty components below `data`
  std::string_view fileName;                  // text after the last separator; may be empty
  bool hasDotDot = false;                     // some component is "..": the path is unsafe
};

// Splits relative (the part of the entry path below `data`) at both separators.
OutputPath splitOutputPath(std::string_view relative);

}  // namespace oxtrel
