#include "cli/json_text.h"

#include <cstddef>

namespace oxtrel {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence starting at `at`, or 0 when none starts there.
size_t validSequenceLength(std::string_view bytes, size_t at) {
  const auto byte = [&](size_t i) { return uint8_t(bytes[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  // The second byte's range excludes overlong forms, surrogates and values above U+10FFFF.
  uint8_t secondMin = 0x80;
  uint8_t secondMax = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondMin = 0xA0;
    if (lead == 0xED) secondMax = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondMin = 0x90;
    if (lead == 0xF4) secondMax = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  if (byte(at + 1) < secondMin || byte(at + 1) > secondMax) return 0;
  for (size_t i = at + 2; i < at + length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

void appendEscapedControl(std::string& out, uint8_t c) {
  switch (c) {
    case '\b': out += "\\b"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\f': out += "\\f"; return;
    case '\r': out += "\\r"; return;
    default:
      out += "\\u00";
      out.push_back(hexDigits[c >> 4]);
      out.push_back(hexDigits[c & 0x0F]);
  }
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = validSequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void appendJsonString(std::string& out, std::string_view bytes) {
  out.push_back('"');
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t c = uint8_t(bytes[i]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(char(c));
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      appendEscapedControl(out, c);
      ++i;
    } else if (const size_t length = validSequenceLength(bytes, i); length != 0) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out.push_back('"');
}

void appendHex(std::string& out, std::span<const uint8_t> bytes) {
  out.reserve(out.size() + 2 * bytes.size());
  for (const uint8_t b : bytes) {
    out.push_back(hexDigits[b >> 4]);
    out.push_back(hexDigits[b & 0x0F]);
  }
}

void appendJsonBytesField(std::string& out, std::string_view key, std::string_view bytes, std::string_view hexKey) {
  out.push_back('"');
  out.append(key).append("\":");
  appendJsonString(out, bytes);
  if (isValidUtf8(bytes)) return;
  out.append(",\"").append(hexKey).append("\":\"");
  appendHex(out, {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  out.push_back('"');
}

}  // namespace oxtrel
