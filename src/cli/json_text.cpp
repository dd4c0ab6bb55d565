#include "cli/json_text.h"

#include <cstdio>

namespace oxtrel {

namespace {

// Length of the valid UTF-8 sequence at s, or 0.
size_t validSequence(std::string_view s) {
  auto b = [&](size_t i) { return uint8_t(s[i]); };
  uint8_t c = b(0);
  if (c < 0x80) return 1;
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (n == 0 || c > 0xF4 || s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((b(i) & 0xC0) != 0x80) return 0;
  if (c == 0xE0 && b(1) < 0xA0) return 0;
  if (c == 0xED && b(1) > 0x9F) return 0;
  if (c == 0xF0 && b(1) < 0x90) return 0;
  if (c == 0xF4 && b(1) > 0x8F) return 0;
  return n;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    size_t n = validSequence(bytes);
    if (n == 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

void appendJsonString(std::string& out, std::string_view bytes) {
  out.push_back('"');
  while (!bytes.empty()) {
    size_t n = validSequence(bytes);
    char c = bytes[0];
    if (n == 0) {
      out.append("\xEF\xBF\xBD");
      n = 1;
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (uint8_t(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(uint8_t(c)));
      out.append(esc);
    } else {
      out.append(bytes.substr(0, n));
    }
    bytes.remove_prefix(n);
  }
  out.push_back('"');
}

void appendHex(std::string& out, std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) {
    out.push_back("0123456789abcdef"[b >> 4]);
    out.push_back("0123456789abcdef"[b & 15]);
  }
}

}  // namespace oxtrel
