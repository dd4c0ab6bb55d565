#include "platform/windows/windows_names.h"

#include <array>
#include <optional>

namespace oxtrel::windows_names {

namespace {

// Windows-1252's bytes 0x80-0x9F; the unassigned ones (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// themselves.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(char16_t(c));
  } else {
    c -= 0x10000;
    out.push_back(char16_t(0xD800 + (c >> 10)));
    out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
  }
}

// The UTF-16 of bytes when they are valid UTF-8, else nothing.
std::optional<std::u16string> decodeUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    auto lead = uint8_t(bytes[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > bytes.size()) return std::nullopt;
    char32_t c = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      auto next = uint8_t(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    constexpr std::array<char32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    appendCodePoint(out, c);
    i += length;
  }
  return out;
}

char16_t asciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

bool isReservedDevice(std::u16string_view name) {
  // Windows reads the part before the first dot, with trailing spaces dropped.
  name = name.substr(0, name.find(u'.'));
  while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
  std::u16string upper;
  for (char16_t c : name) upper.push_back(asciiUpper(c));
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL" || upper == u"CONIN$" ||
      upper == u"CONOUT$")
    return true;
  if (upper.size() != 4 || (upper.substr(0, 3) != u"COM" && upper.substr(0, 3) != u"LPT")) return false;
  char16_t digit = upper[3];
  return (digit >= u'0' && digit <= u'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

}  // namespace

std::u16string decode(std::string_view bytes) {
  if (std::optional<std::u16string> utf8 = decodeUtf8(bytes)) return std::move(*utf8);
  std::u16string out;
  out.reserve(bytes.size());
  for (char b : bytes) {
    auto byte = uint8_t(b);
    out.push_back(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte));
  }
  return out;
}

std::string encodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool componentAllowed(std::string_view component) {
  if (component.empty() || component == ".") return true;
  for (char c : component) {
    if (uint8_t(c) < 0x20 || std::string_view(":<>\"|?*").find(c) != std::string_view::npos) return false;
  }
  if (component.back() == '.' || component.back() == ' ') return false;
  return !isReservedDevice(decode(component));
}

}  // namespace oxtrel::windows_names
