#pragma once

// An entry's path below `data`, split into components. '\' and '/' both separate them.
// A path is unsafe when a component is "..", or a name the system would read as something else
// (platform::nameAllowed: a device or a data stream on Windows).

#include <string_view>
#include <vector>

namespace oxtrel {

struct OutputPath {
  std::vector<std::string_view> directories;  // non-empty components below `data`
  std::string_view fileName;                  // text after the last separator; may be empty
  bool unsafe = false;                        // refused before the file system is looked at
};

// Splits relative (the part of the entry path below `data`) at both separators.
OutputPath splitOutputPath(std::string_view relative);

}  // namespace oxtrel
