#include "platform/windows/windows_names.h"

#include <gtest/gtest.h>

#include <string>

namespace oxtrel::windows_names {
namespace {

TEST(WindowsNames, ComponentsWindowsWouldReadAsSomethingElseAreRefused) {
  struct Case {
    std::string component;
    bool allowed;
  };
  const Case cases[] = {
      {"", true},           {".", true},           {"name.txt", true},      {"..name", true},
      {".hidden", true},    {"a b", true},         {"CONSOLE", true},       {"CON_", true},
      {"COM10", true},      {"LPT", true},         {"xNUL", true},          {"nul_.txt", true},
      {"\x7f", true},       {"caf\xc3\xa9", true}, {"caf\xe9", true},       {"COM\xc2\xb9x", true},
      {"a:b", false},       {"file.txt:stream", false}, {"a<b", false},     {"a>b", false},
      {"a\"b", false},      {"a|b", false},        {"a?b", false},          {"a*b", false},
      {"a\tb", false},      {std::string("a\0b", 3), false}, {"\x1f", false},
      {"name.", false},     {"name ", false},      {"...", false},          {" ", false},
      {"CON", false},       {"con", false},        {"Prn.txt", false},      {"aux.tar.gz", false},
      {"NUL ", false},      {"nul .txt", false},   {"COM1", false},         {"com9.log", false},
      {"LPT0", false},      {"lpt5.x", false},     {"CONIN$", false},       {"conout$.txt", false},
      // COM and LPT with a superscript digit, written in UTF-8 or in Windows-1252.
      {"COM\xc2\xb9", false}, {"lpt\xc2\xb2.txt", false}, {"COM\xb3", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(componentAllowed(c.component), c.allowed) << '"' << c.component << '"';
  }
}

TEST(WindowsNames, ValidUtf8IsUtf8AndAnythingElseIsWindows1252) {
  struct Case {
    std::string bytes;
    std::u16string text;
    bool utf8 = false;
  };
  const Case cases[] = {
      {"plain/ascii", u"plain/ascii", true},
      {"caf\xc3\xa9", u"caf\u00e9", true},
      {"\xe2\x82\xac", u"\u20ac", true},
      {"\xf0\x9f\x98\x80", u"\U0001F600", true},
      // Not UTF-8, so every byte is Windows-1252: the whole name, even its valid-looking parts.
      {"caf\xe9", u"caf\u00e9"},
      {"\xc3\xa9\xe9", u"\u00c3\u00a9\u00e9"},
      {"\x80\x81\x8d\x8f\x90\x9d\x9f", u"\u20ac\u0081\u008d\u008f\u0090\u009d\u0178"},
      {"\x96\x97\x99", u"\u2013\u2014\u2122"},
      // Overlong forms, surrogates, values past U+10FFFF and cut sequences are not UTF-8.
      {"\xc0\xaf", u"\u00c0\u00af"},
      {"\xed\xa0\x80", u"\u00ed\u00a0\u20ac"},
      {"\xf4\x90\x80\x80", u"\u00f4\u0090\u20ac\u20ac"},
      {"\xe2\x82", u"\u00e2\u201a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.bytes), c.text) << c.bytes;
    // A name that was UTF-8 reads back from the system as the same bytes.
    if (c.utf8) {
      EXPECT_EQ(encodeUtf8(c.text), c.bytes);
    }
  }
  EXPECT_EQ(encodeUtf8(u"caf\u00e9 \U0001F600"), "caf\xc3\xa9 \xf0\x9f\x98\x80");
  EXPECT_EQ(encodeUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xef\xbf\xbdx");
}

}  // namespace
}  // namespace oxtrel::windows_names
