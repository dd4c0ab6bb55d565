#include "catalogue/name_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "archive_builder.h"
#include "catalogue/name_hash.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using testing::Bytes;
using testing::bytesOf;

TEST(SplitAtLastDot, SplitsAtTheLastDotOnly) {
  SplitName s = splitAtLastDot("a.b.nif");
  EXPECT_EQ(s.base, "a.b");
  EXPECT_EQ(s.extension, ".nif");
  s = splitAtLastDot("trailing.");
  EXPECT_EQ(s.base, "trailing");
  EXPECT_EQ(s.extension, ".");
  s = splitAtLastDot("nodot");
  EXPECT_EQ(s.base, "nodot");
  EXPECT_EQ(s.extension, "");
  s = splitAtLastDot(".hidden");
  EXPECT_EQ(s.base, "");
  EXPECT_EQ(s.extension, ".hidden");
}

// The index of block for records asking for the given names.
NameIndex indexAsking(std::string_view block, uint32_t fileCount, const std::vector<std::string>& asked) {
  std::vector<uint64_t> wanted;
  for (const std::string& name : asked) wanted.push_back(nameKey(hashFileName(name)));
  return buildNameIndex(bytesOf(block), fileCount, wanted);
}

std::string found(const NameIndex& index, std::string_view name) {
  std::optional<std::string_view> stored = lookup(index, hashFileName(name));
  return stored ? std::string(*stored) : "<none>";
}

TEST(NameIndex, JoinsAskedHashesToTheLastNameOfTheBlockBearingThem) {
  using namespace std::string_literals;
  struct Case {
    std::string block;
    uint32_t fileCount;
    std::vector<std::string> asked;
    std::vector<std::string> expected;  // found(asked[i])
  } cases[] = {
      {"rock.nif\0walk.kf\0README\0"s, 3, {"ROCK.NIF", "walk.kf", "README", "rock.kf"},
       {"rock.nif", "walk.kf", "README", "<none>"}},
      {"Tree.dds\0tree.DDS\0"s, 2, {"tree.dds"}, {"tree.DDS"}},               // later name wins
      {"long_name.dds\0LONG_NAME.DDS\0"s, 2, {"long_name.dds"}, {"LONG_NAME.DDS"}},
      {"\0\0b.kf\0"s, 3, {"", "b.kf"}, {"", "b.kf"}},                          // empty names count
      {"a.nif\0b.nif\0"s, 1, {"a.nif", "b.nif"}, {"a.nif", "<none>"}},       // count limits
      {"a.nif\0b.nif\0"s, 0, {"a.nif"}, {"<none>"}},
      {"\0\0\0\0b.nif\0"s, 3, {"", "b.nif"}, {"", "<none>"}},                  // a NUL run counts too
      {"a.nif\0tail"s, 1000, {"a.nif", "tail"}, {"a.nif", "tail"}},            // short block, no NUL
      {""s, 5, {"a.nif"}, {"<none>"}},
  };
  for (const Case& c : cases) {
    NameIndex index = indexAsking(c.block, c.fileCount, c.asked);
    for (size_t i = 0; i < c.asked.size(); ++i)
      EXPECT_EQ(found(index, c.asked[i]), c.expected[i]) << ::testing::PrintToString(c.block) << " " << c.asked[i];
  }
}

TEST(NameIndex, KeepsOnlyTheNamesAskedFor) {
  // 600 names, upper-case twins of every seventh far behind their first spelling; two are asked.
  std::string block;
  for (int i = 0; i < 600; ++i) block += "part_" + std::to_string(i) + ".nif" + '\0';
  for (int i = 0; i < 600; i += 7) block += "PART_" + std::to_string(i) + ".NIF" + '\0';
  NameIndex index = indexAsking(block, 1000, {"part_7.nif", "part_8.nif", "part_7.nif", "part_600.nif"});
  EXPECT_EQ(index.keys.size(), 3u);
  EXPECT_TRUE(std::is_sorted(index.keys.begin(), index.keys.end()));
  EXPECT_EQ(found(index, "part_7.nif"), "PART_7.NIF");
  EXPECT_EQ(found(index, "part_8.nif"), "part_8.nif");
  EXPECT_EQ(found(index, "part_600.nif"), "<none>");
  EXPECT_EQ(found(index, "part_9.nif"), "<none>");
  EXPECT_EQ(index.text.size(), 2 * std::string("part_7.nif\0", 11).size());  // the twin reused its slot

  // A block repeating one name keeps a single copy of it.
  std::string repeated;
  for (int i = 0; i < 1000; ++i) repeated += std::string(i % 2 ? "x.kf" : "X.KF") + '\0';
  EXPECT_EQ(indexAsking(repeated, 1000, {"x.kf"}).text, std::string("x.kf\0", 5));
}

TEST(NameIndex, ReadingInPiecesMatchesTheWholeBlock) {
  // Random blocks of short names (with runs of NULs, repeated names and a missing final NUL),
  // read from a file in pieces smaller than their names, against the block taken at once.
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string block;
    std::vector<std::string> pool;
    for (int n = int(random() % 40); n > 0; --n) {
      std::string name(random() % 12, 'a');
      for (char& c : name) c = "aAbB.\0"[random() % 6];
      block += name;
      if (random() % 8 != 0 || n > 1) block += '\0';
      pool.push_back(name.substr(0, name.find('\0')));
    }
    std::vector<uint64_t> wanted;
    for (const std::string& name : pool)
      if (random() % 2) wanted.push_back(nameKey(hashFileName(name)));
    wanted.push_back(nameKey(hashFileName("")));
    uint32_t fileCount = uint32_t(random() % 50);

    NameIndex whole = buildNameIndex(bytesOf(block), fileCount, wanted);
    PositionalFile file = testing::memoryFile(bytesOf("pad" + block));
    for (size_t chunk : {1u, 2u, 3u, 5u, 16u, 4096u}) {
      Result<NameIndex> pieces = readNameIndex(file, 3, uint32_t(block.size()), fileCount, wanted, chunk);
      ASSERT_TRUE(pieces.ok());
      ASSERT_EQ(pieces->keys, whole.keys);
      for (const std::string& name : pool)
        EXPECT_EQ(lookup(*pieces, hashFileName(name)), lookup(whole, hashFileName(name)))
            << "round " << round << " chunk " << chunk << " " << name;
    }
    EXPECT_FALSE(readNameIndex(file, 3, uint32_t(block.size() + 1), UINT32_MAX, wanted).ok());  // the file ends first
  }
}

}  // namespace
}  // namespace oxtrel
