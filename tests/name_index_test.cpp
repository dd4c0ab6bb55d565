#include "catalogue/name_index.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "archive_builder.h"
#include "catalogue/name_hash.h"

namespace oxtrel {
namespace {

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

TEST(NameIndex, FindsEveryNameOfTheBlock) {
  NameIndex index = buildNameIndex(bytesOf(std::string("rock.nif\0walk.kf\0README\0", 24)), 3);
  ASSERT_EQ(index.names.size(), 3u);
  EXPECT_EQ(*lookup(index, hashFileName("ROCK.NIF")), "rock.nif");
  EXPECT_EQ(*lookup(index, hashFileName("walk.kf")), "walk.kf");
  EXPECT_EQ(*lookup(index, hashFileName("README")), "README");
  EXPECT_EQ(lookup(index, hashFileName("rock.kf")), nullptr);
}

TEST(NameIndex, LaterNameWithTheSameHashWins) {
  NameIndex index = buildNameIndex(bytesOf(std::string("Tree.dds\0tree.DDS\0", 18)), 2);
  ASSERT_EQ(index.names.size(), 1u);
  EXPECT_EQ(*lookup(index, hashFileName("tree.dds")), "tree.DDS");
}

TEST(NameIndex, EmptyNameTakesOnePosition) {
  NameIndex index = buildNameIndex(bytesOf(std::string("\0\0b.kf\0", 7)), 3);
  EXPECT_EQ(index.names.size(), 2u);
  EXPECT_EQ(*lookup(index, computeNameHash("", "")), "");
  EXPECT_EQ(*lookup(index, hashFileName("b.kf")), "b.kf");
}

TEST(NameIndex, CountLimitsTheNamesTaken) {
  auto block = bytesOf(std::string("a.nif\0b.nif\0", 12));
  EXPECT_EQ(buildNameIndex(block, 1).names.size(), 1u);
  EXPECT_TRUE(buildNameIndex(block, 0).names.empty());
}

TEST(NameIndex, StopsAtTheEndOfAShortBlock) {
  // fileCount promises more names than the block holds; the last one has no NUL.
  NameIndex index = buildNameIndex(bytesOf(std::string("a.nif\0tail", 10)), 1000);
  EXPECT_EQ(index.names.size(), 2u);
  EXPECT_EQ(*lookup(index, hashFileName("tail")), "tail");
  EXPECT_TRUE(buildNameIndex({}, 5).names.empty());
}

TEST(NameIndex, LargeBlocksFindEveryNameAndKeepTheLaterOfEachHash) {
  // Upper-case twins share their hash with a name much earlier in the block, so a later name
  // must win however far apart the two are and wherever sorting puts them.
  std::string block;
  for (int i = 0; i < 600; ++i) block += "part_" + std::to_string(i) + ".nif" + '\0';
  for (int i = 0; i < 600; i += 7) block += "PART_" + std::to_string(i) + ".NIF" + '\0';
  NameIndex index = buildNameIndex(bytesOf(block), 1000);
  EXPECT_EQ(index.names.size(), 600u);
  EXPECT_EQ(index.keys.size(), 600u);
  EXPECT_TRUE(std::is_sorted(index.keys.begin(), index.keys.end()));
  for (int i = 0; i < 600; ++i) {
    const std::string* name = lookup(index, hashFileName("part_" + std::to_string(i) + ".nif"));
    ASSERT_NE(name, nullptr) << i;
    EXPECT_EQ(*name, (i % 7 == 0 ? "PART_" : "part_") + std::to_string(i) + (i % 7 == 0 ? ".NIF" : ".nif"));
  }
  EXPECT_EQ(lookup(index, hashFileName("part_600.nif")), nullptr);
}

}  // namespace
}  // namespace oxtrel
