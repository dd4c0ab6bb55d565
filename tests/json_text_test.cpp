#include "cli/json_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace oxtrel {
namespace {

std::string jsonOf(std::string_view bytes) {
  std::string out;
  appendJsonString(out, bytes);
  return out;
}

#define FFFD "\xEF\xBF\xBD"

TEST(JsonText, EscapesAndReplacesAsTheTableSays) {
  struct Case {
    std::string_view input;
    const char* json;
    bool valid;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"", "\"\"", true},
      {"plain/name.dds", "\"plain/name.dds\"", true},
      {"q\"b\\s", "\"q\\\"b\\\\s\"", true},
      {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\"", true},
      {"\x01\x1F\x7F", "\"\\u0001\\u001f\\u007f\"", true},
      {"\0x"sv, "\"\\u0000x\"", true},
      // Valid sequences of every length, at the edges of their ranges, pass through.
      {"\xC2\x80\xDF\xBF", "\"\xC2\x80\xDF\xBF\"", true},
      {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", "\"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\"", true},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "\"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\"", true},
      // Each byte of an invalid sequence becomes U+FFFD.
      {"\x80", "\"" FFFD "\"", false},                            // stray continuation
      {"a\xFFz", "\"a" FFFD "z\"", false},                        // never a lead
      {"\xC0\xAF", "\"" FFFD FFFD "\"", false},                   // overlong '/'
      {"\xE0\x80\xAF", "\"" FFFD FFFD FFFD "\"", false},          // overlong 3-byte
      {"\xF0\x8F\xBF\xBF", "\"" FFFD FFFD FFFD FFFD "\"", false}, // overlong 4-byte
      {"\xED\xA0\x80", "\"" FFFD FFFD FFFD "\"", false},          // surrogate U+D800
      {"\xED\xBF\xBF", "\"" FFFD FFFD FFFD "\"", false},          // surrogate U+DFFF
      {"\xF4\x90\x80\x80", "\"" FFFD FFFD FFFD FFFD "\"", false}, // U+110000
      {"\xF5\x80\x80\x80", "\"" FFFD FFFD FFFD FFFD "\"", false},
      {"\xE2\x82", "\"" FFFD FFFD "\"", false},                   // cut short at the end
      {"\xE2\x82z", "\"" FFFD FFFD "z\"", false},                 // cut short before ASCII
      {"\xC3\xC3\xA9", "\"" FFFD "\xC3\xA9\"", false},            // bad continuation, then valid
      {"\xE9t\xE9", "\"" FFFD "t" FFFD "\"", false},              // Latin-1 text
  };
  for (const Case& c : cases) {
    EXPECT_EQ(jsonOf(c.input), c.json) << testing::PrintToString(std::string(c.input));
    EXPECT_EQ(isValidUtf8(c.input), c.valid) << testing::PrintToString(std::string(c.input));
  }
}

std::string encodeUtf8(uint32_t v) {
  std::string s;
  const auto put = [&](uint32_t b) { s.push_back(char(uint8_t(b))); };
  if (v < 0x80) {
    put(v);
  } else if (v < 0x800) {
    put(0xC0 | (v >> 6));
    put(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    put(0xE0 | (v >> 12));
    put(0x80 | ((v >> 6) & 0x3F));
    put(0x80 | (v & 0x3F));
  } else {
    put(0xF0 | (v >> 18));
    put(0x80 | ((v >> 12) & 0x3F));
    put(0x80 | ((v >> 6) & 0x3F));
    put(0x80 | (v & 0x3F));
  }
  return s;
}

// Every scalar value is valid and copied as it is; every surrogate is not.
TEST(JsonText, AgreesWithAnEncoderOnEveryCodePoint) {
  for (uint32_t v = 0x20; v <= 0x10FFFF; ++v) {
    if (v == '"' || v == '\\' || v == 0x7F) continue;
    const std::string encoded = encodeUtf8(v);
    const bool surrogate = v >= 0xD800 && v <= 0xDFFF;
    ASSERT_EQ(isValidUtf8(encoded), !surrogate) << std::hex << v;
    if (!surrogate) {
      ASSERT_EQ(jsonOf(encoded), "\"" + encoded + "\"") << std::hex << v;
    }
  }
}

// Whatever the bytes, the output is valid UTF-8.
TEST(JsonText, OutputIsValidUtf8ForAnyThreeBytes) {
  const std::array<uint8_t, 12> tails = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC2, 0xE0, 0xFF};
  for (uint32_t lead = 0; lead < 256; ++lead)
    for (const uint8_t a : tails)
      for (const uint8_t b : tails) {
        const std::string input = {char(uint8_t(lead)), char(a), char(b)};
        ASSERT_TRUE(isValidUtf8(jsonOf(input))) << testing::PrintToString(input);
      }
}

TEST(JsonText, HexIsLowerCaseTwoDigitsPerByte) {
  const uint8_t bytes[] = {0x00, 0x0A, 0xAB, 0xFF, 0x10};
  std::string out = "h=";
  appendHex(out, bytes);
  EXPECT_EQ(out, "h=000aabff10");
}

}  // namespace
}  // namespace oxtrel
