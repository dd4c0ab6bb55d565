#include "common/result.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "extract/output_tree.h"
#include "io/positional_file.h"
#include "scratch.h"

namespace oxtrel {
namespace {

TEST(ErrorMessage, NamesWhatAndWhereThenTheSystemsReason) {
  struct Case {
    Error error;
    std::string expected;
  } cases[] = {
      {{ErrorKind::cannotWrite, ENOSPC, "data\\a\\b"}, "cannot write data\\a\\b: No space left on device"},
      {{ErrorKind::cannotOpen, ENOENT, "x.vrk"}, "cannot open x.vrk: No such file or directory"},
      {{ErrorKind::cannotRead, 0, "'tree/f'"}, "cannot read 'tree/f': it ended early"},
      {{ErrorKind::truncated, 0, "catalogue"}, "truncated catalogue"},
      {{ErrorKind::unsafePath, 0, "data\\..\\x"}, "unsafe path data\\..\\x"},
      {{ErrorKind::unpackFailed, 0, "data\\d\\f"}, "cannot unpack data\\d\\f"},
      {{ErrorKind::nameCollision, 0, "'a' and 'b' share a hash"}, "'a' and 'b' share a hash"},
  };
  for (const Case& c : cases) EXPECT_EQ(message(c.error), c.expected);
}

TEST(Result, HoldsAValueOrAnError) {
  Result<std::string> value = std::string("kept");
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(std::move(value).value(), "kept");
  Result<std::string> failed = Error{ErrorKind::truncated, 0, "catalogue"};
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().where, "catalogue");
  Status done;
  EXPECT_TRUE(done.ok());
  Status refused = Error{ErrorKind::cannotWrite, EIO, {}};
  EXPECT_EQ(refused.error().systemError, EIO);
}

size_t openDescriptors() {
  return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Every descriptor a file read by position or an output tree opens is closed with its owner,
// also on the early return of a failure.
TEST(Ownership, DescriptorsCloseWithTheirOwners) {
  using namespace oxtrel::testing;
  ScratchDir dir;
  writeFile(dir / "archive", bytesOf("0123456789"));
  size_t before = openDescriptors();
  {
    Result<PositionalFile> file = openPositionalFile((dir / "archive").c_str());
    ASSERT_TRUE(file.ok());
    EXPECT_FALSE(openPositionalFile(dir.path.c_str()).ok());  // a directory: opened, then refused
    PositionalFile moved = std::move(*file);
    platform::Directory parent(open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    OutputTree tree = makeOutputTree(parent.get());
    EXPECT_TRUE(copyOutputFile(tree, splitOutputPath("a\\copy"), {moved.file.get(), 2, 5}).ok());
    EXPECT_TRUE(writeOutputFile(tree, splitOutputPath("b\\c\\bytes"), bytesOf("xy")).ok());
    EXPECT_GT(openDescriptors(), before);
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(readFile(dir / "data/a/copy"), bytesOf("23456"));
}

}  // namespace
}  // namespace oxtrel
