#include "extract/output_path.h"

#include "platform/platform.h"

namespace oxtrel {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

OutputPath splitOutputPath(std::string_view relative) {
  OutputPath path;
  size_t start = 0;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && !isSeparator(relative[i])) continue;
    std::string_view component = relative.substr(start, i - start);
    if (component == ".." || !platform::nameAllowed(component)) path.unsafe = true;
    if (i == relative.size()) {
      path.fileName = component;
    } else if (!component.empty()) {
      path.directories.push_back(component);
    }
    start = i + 1;
  }
  return path;
}

}  // namespace oxtrel
