// The platform layer's promises that the extractor's safety rests on, table-driven. The suite
// runs again with OXTREL_NO_FAST_PATHS=1 (see CMakeLists.txt), so both the fast calls and the
// portable ones are held to them.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
namespace fs = std::filesystem;

TEST(Platform, OpenChildNeverPassesALinkAndMakesOnlyWhatIsMissing) {
  ScratchDir dir;
  fs::create_directories(dir / "parent/dir");
  fs::create_directories(dir / "outside");
  writeFile(dir / "parent/file", bytesOf("x"));
  fs::create_directory_symlink("../outside", dir / "parent/linkToDir");
  fs::create_symlink("../outside/missing", dir / "parent/dangling");
  fs::create_symlink("file", dir / "parent/linkToFile");

  struct Case {
    const char* name;
    bool create;
    platform::SystemError expected;
  };
  const Case cases[] = {
      {"dir", false, 0},          {"dir", true, 0},
      {"missing", false, ENOENT}, {"made", true, 0},
      {"file", false, ENOTDIR},   {"file", true, ENOTDIR},
      {"linkToDir", false, ELOOP}, {"linkToDir", true, ELOOP},
      {"dangling", true, ELOOP},  {"linkToFile", false, ELOOP},
      {".", false, 0},
  };
  platform::Directory parent;
  ASSERT_EQ(platform::openDirectory(dir / "parent", parent), 0);
  for (const Case& c : cases) {
    platform::Directory child;
    EXPECT_EQ(platform::openChild(parent.get(), c.name, c.create, child), c.expected) << c.name << " " << c.create;
    EXPECT_EQ(child.valid(), c.expected == 0) << c.name;
    // A directory opened is usable as a parent: something made through it lands inside it.
    if (child.valid()) {
      platform::Directory grandchild;
      EXPECT_EQ(platform::openChild(child.get(), "below", true, grandchild), 0) << c.name;
    }
  }
  EXPECT_TRUE(fs::is_directory(dir / "parent/made/below"));
  EXPECT_TRUE(fs::is_empty(dir / "outside"));
  EXPECT_FALSE(fs::exists(dir / "parent/missing"));
}

TEST(Platform, IdentitiesTellNamesOfOneFileFromTwoFiles) {
  ScratchDir dir;
  writeFile(dir / "one", bytesOf("a"));
  writeFile(dir / "two", bytesOf("a"));
  fs::create_hard_link(dir / "one", dir / "same");
  fs::create_symlink("one", dir / "link");
  platform::FileStatus one, two, same, link;
  ASSERT_EQ(platform::statusOfPath(dir / "one", one), 0);
  ASSERT_EQ(platform::statusOfPath(dir / "two", two), 0);
  ASSERT_EQ(platform::statusOfPath(dir / "same", same), 0);
  ASSERT_EQ(platform::statusOfPath(dir / "link", link), 0);
  EXPECT_EQ(one.identity, same.identity);
  EXPECT_NE(one.identity, two.identity);
  EXPECT_EQ(link.kind, platform::FileKind::symbolicLink);
  EXPECT_EQ(platform::statusOfPath(dir / "none", one), ENOENT);
}

}  // namespace
}  // namespace oxtrel
