#pragma once

// Where an entry goes: below the `data` directory, at "<folder>\<name>". Its console path is
// "data\<folder>\<name>", the folder's and file's bytes as stored.

#include <string>
#include <string_view>

namespace oxtrel {

// The directory every file is extracted into, in the working directory.
inline constexpr char kDataRoot[] = "data";

// Makes out the console path "data\<folder>\<name>", reusing its storage.
inline void composeEntryPath(std::string& out, std::string_view folder, std::string_view name) {
  out.assign(kDataRoot).append("\\").append(folder).append("\\").append(name);
}

// The part of a composed entry path below `data`: "<folder>\<name>".
inline std::string_view belowDataRoot(std::string_view entryPath) {
  return entryPath.substr(sizeof kDataRoot);
}

}  // namespace oxtrel
