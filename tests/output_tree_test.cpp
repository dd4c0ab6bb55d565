#include "extract/output_tree.h"

#include <gtest/gtest.h>

namespace oxtrel {
namespace {

std::vector<std::string> dirs(const OutputPath& p) { return {p.directories.begin(), p.directories.end()}; }

TEST(SplitOutputPath, BothSeparatorsInAnyMix) {
  OutputPath p = splitOutputPath("a/b\\c\\name.nif");
  EXPECT_EQ(dirs(p), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(p.fileName, "name.nif");
  EXPECT_FALSE(p.hasDotDot);
}

TEST(SplitOutputPath, EmptyComponentsAskForNoDirectory) {
  OutputPath p = splitOutputPath("\\x\\\\/y\\f");
  EXPECT_EQ(dirs(p), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(p.fileName, "f");
  EXPECT_EQ(splitOutputPath("dir\\").fileName, "");  // names a directory, not a file
}

TEST(SplitOutputPath, DotDotOnlyAsAWholeComponent) {
  EXPECT_TRUE(splitOutputPath("a\\..\\b").hasDotDot);
  EXPECT_TRUE(splitOutputPath("a\\..").hasDotDot);
  EXPECT_TRUE(splitOutputPath("../x").hasDotDot);
  EXPECT_FALSE(splitOutputPath("a..\\..b\\...").hasDotDot);
  EXPECT_FALSE(splitOutputPath(".\\x").hasDotDot);
}

}  // namespace
}  // namespace oxtrel
