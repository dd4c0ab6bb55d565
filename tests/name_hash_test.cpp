#include "catalogue/name_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "archive_builder.h"

namespace oxtrel {
namespace {


NameHash bytes(std::initializer_list<int> b) {
  NameHash h{};
  size_t i = 0;
  for (int v : b) h[i++] = uint8_t(v);
  return h;
}

TEST(NameHash, ReproducesTheWorkedExamples) {
  EXPECT_EQ(hashFileName("abc"), bytes({0x63, 0x62, 0x03, 0x61, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(hashFileName("abcd"), bytes({0x64, 0x63, 0x04, 0x61, 0x62, 0x00, 0x00, 0x00}));
  EXPECT_EQ(hashFileName("abc.nif"), bytes({0x63, 0xe2, 0x03, 0x61, 0xfd, 0x45, 0xcd, 0x92}));
  EXPECT_EQ(hashFileName("abc.kf"), bytes({0xe3, 0x62, 0x03, 0x61, 0xe9, 0xe3, 0x11, 0x17}));
  EXPECT_EQ(hashFileName("abc.dds"), bytes({0xe3, 0xe2, 0x03, 0x61, 0xc5, 0xa9, 0xdb, 0x8d}));
  EXPECT_EQ(hashFileName("abc.wav"), bytes({0x63, 0x62, 0x03, 0xe1, 0x9e, 0xcf, 0x33, 0x97}));
  EXPECT_EQ(hashFileName("ab.NIF"), bytes({0x62, 0x80, 0x02, 0x61, 0xfd, 0x45, 0xcd, 0x92}));
  EXPECT_EQ(hashFileName("abcdef.txt"), bytes({0x66, 0x65, 0x06, 0x61, 0xe5, 0xae, 0x75, 0xc6}));
}

TEST(NameHash, FoldsAsciiCaseOnly) {
  EXPECT_EQ(hashFileName("Meshes_Rock01.NIF"), hashFileName("meshes_rock01.nif"));
  EXPECT_EQ(hashFileName("ABC.DDS"), hashFileName("abc.dds"));
  // 0xC9 and 0xE9 differ by 0x20 like an ASCII case pair, but are not folded.
  EXPECT_NE(hashFileName("x\xC9yz"), hashFileName("x\xE9yz"));
  EXPECT_NE(computeNameHash("\xC9", std::string_view()), computeNameHash("\xE9", std::string_view()));
}

TEST(NameHash, HighBytesEnterTheSpanAsNegativeValues) {
  EXPECT_EQ(hashSpan("\xFF"), uint32_t(-1));
  EXPECT_EQ(hashSpan("\x80"), uint32_t(-128));
  EXPECT_EQ(hashSpan("a\xFF"), uint32_t(97u * 65599u - 1u));
  // The byte-position fields keep the low eight bits of the signed value: the byte itself.
  NameHash h = computeNameHash("\xFF\xFE\xFD\xFC", "");
  EXPECT_EQ(h[0], 0xFC);
  EXPECT_EQ(h[1], 0xFD);
  EXPECT_EQ(h[3], 0xFF);
}

TEST(NameHash, ShortBaseNames) {
  // Length 1: first and last byte are the same byte, byte 1 stays 0.
  EXPECT_EQ(computeNameHash("Q", ""), bytes({'q', 0, 1, 'q', 0, 0, 0, 0}));
  // Length 2: byte 1 is 0, not the first byte.
  EXPECT_EQ(computeNameHash("ab", ""), bytes({'b', 0, 2, 'a', 0, 0, 0, 0}));
  // Length 3: the middle byte appears only in byte 1; nothing goes into bytes 4..7.
  EXPECT_EQ(computeNameHash("abc", ""), bytes({'c', 'b', 3, 'a', 0, 0, 0, 0}));
}

TEST(NameHash, LongBaseNamesWrapTheLengthByte) {
  std::string base256(256, 'a');
  std::string base300(300, 'a');
  EXPECT_EQ(computeNameHash(base256, "")[2], 0);
  EXPECT_EQ(computeNameHash(base300, "")[2], 300 % 256);
}

TEST(NameHash, ExtensionMarksAreWrappingAdds) {
  // .dds adds 0x80 to bytes 0 and 1; both wrap past 0xFF.
  EXPECT_EQ(computeNameHash("\x90", ".dds")[0], uint8_t(0x90 + 0x80));
  EXPECT_EQ(computeNameHash("a\xC0z", ".dds")[1], uint8_t(0xC0 + 0x80));
  // .wav marks byte 3 only; an addition, not an OR: 0xE1 + 0x80 wraps to 0x61.
  EXPECT_EQ(computeNameHash("\xE1xy", ".wav")[3], 0x61);
  EXPECT_EQ(computeNameHash("\xE1xy", ".wav")[0], 'y');
}

TEST(NameHash, DotOnlyAndEmptyExtensions) {
  NameHash dotted = computeNameHash("abcd", ".");
  NameHash plain = computeNameHash("abcd", "");
  uint32_t dottedSpan = dotted[4] | dotted[5] << 8 | dotted[6] << 16 | uint32_t(dotted[7]) << 24;
  EXPECT_EQ(dottedSpan, uint32_t('b' + 46));
  EXPECT_EQ(std::vector<uint8_t>(dotted.begin(), dotted.begin() + 4),
            std::vector<uint8_t>(plain.begin(), plain.begin() + 4));
  // Unknown extensions add only their span.
  EXPECT_EQ(computeNameHash("abc", ".txt")[0], 'c');
  EXPECT_EQ(computeNameHash("abc", ".nifx")[1], 'b');
}

TEST(NameHash, EmptyBaseName) {
  EXPECT_EQ(computeNameHash("", ""), bytes({0, 0, 0, 0, 0, 0, 0, 0}));
  NameHash kf = computeNameHash("", ".kf");
  EXPECT_EQ(kf[0], 0x80);
  EXPECT_EQ(kf[1], 0);
  EXPECT_EQ(kf[2], 0);
  EXPECT_EQ(kf[3], 0);
}

}  // namespace
}  // namespace oxtrel
