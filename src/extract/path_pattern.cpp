#include "extract/path_pattern.h"

namespace oxtrel {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool match(std::string_view p, std::string_view s) {
  if (p.empty()) return s.empty();
  if (p.substr(0, 2) == "**") {
    std::string_view rest = p.substr(2);
    for (size_t i = 0; i <= s.size(); ++i)
      if (match(rest, s.substr(i))) return true;
    return false;
  }
  if (p[0] == '*') {
    for (size_t i = 0; i <= s.size(); ++i) {
      if (match(p.substr(1), s.substr(i))) return true;
      if (i < s.size() && s[i] == '/') break;
    }
    return false;
  }
  if (s.empty()) return false;
  if (p[0] == '?') return s[0] != '/' && match(p.substr(1), s.substr(1));
  if (p[0] == '[') {
    size_t close = p.find(']', 2);
    if (close != std::string_view::npos) {
      std::string_view set = p.substr(1, close - 1);
      bool negate = !set.empty() && set[0] == '!';
      if (negate) set.remove_prefix(1);
      bool in = false;
      for (size_t i = 0; i < set.size(); ++i) {
        if (i + 2 < set.size() && set[i + 1] == '-') {
          if (lower(s[0]) >= lower(set[i]) && lower(s[0]) <= lower(set[i + 2])) in = true;
          i += 2;
        } else if (lower(set[i]) == lower(s[0])) {
          in = true;
        }
      }
      return in != negate && s[0] != '/' && match(p.substr(close + 1), s.substr(1));
    }
  }
  return lower(p[0]) == lower(s[0]) && match(p.substr(1), s.substr(1));
}

}  // namespace

bool matchesPathPattern(std::string_view pattern, std::string_view path) { return match(pattern, path); }

std::string patternPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty()) out.push_back('/');
  out.append(name);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace oxtrel
