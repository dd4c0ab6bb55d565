#include "extract/output_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "scratch.h"

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

// Every way a file gets its name: unnamed and linked by descriptor, unnamed and linked through
// /proc, and a named temporary renamed into place. Each must create, replace files and links at
// the name, refuse a directory there, and leave no temporary behind.
TEST(WriteOutputFile, EveryNamingPathCreatesAndReplacesAlike) {
  using namespace oxtrel::testing;
  struct Mode {
    const char* name;
    bool unnamed;
    bool byDescriptor;
  };
  for (Mode mode : {Mode{"by descriptor", true, true}, Mode{"through /proc", true, false},
                    Mode{"named temporary", false, false}}) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "data/d/dir.nif");
    std::filesystem::create_directories(dir / "outside");
    writeFile(dir / "outside/target", bytesOf("untouched"));
    writeFile(dir / "data/d/old.nif", bytesOf("old contents"));
    ASSERT_EQ(symlink("../../outside/target", (dir / "data/d/link.nif").c_str()), 0);
    int parent = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(parent, 0);
    OutputTree tree = makeOutputTree(parent, {.unnamedFiles = mode.unnamed, .linkByDescriptor = mode.byDescriptor});

    auto write = [&](const char* path, const std::string& text) {
      return writeOutputFile(tree, splitOutputPath(path), bytesOf(text));
    };
    EXPECT_TRUE(write("d\\new.nif", "new").ok()) << mode.name;
    EXPECT_TRUE(write("d\\old.nif", "replaced").ok()) << mode.name;
    EXPECT_TRUE(write("d\\link.nif", "not through the link").ok()) << mode.name;
    EXPECT_TRUE(write("d/sub\\empty.nif", "").ok()) << mode.name;
    Status onDirectory = write("d\\dir.nif", "x");
    ASSERT_FALSE(onDirectory.ok()) << mode.name;
    EXPECT_EQ(onDirectory.error().kind, ErrorKind::cannotWrite) << mode.name;
    EXPECT_EQ(onDirectory.error().systemError, EISDIR) << mode.name;
    close(parent);

    EXPECT_EQ(snapshotTree(dir / "data"),
              (std::map<std::string, std::string>{{"d/", ""},
                                                  {"d/dir.nif/", ""},
                                                  {"d/link.nif", "not through the link"},
                                                  {"d/new.nif", "new"},
                                                  {"d/old.nif", "replaced"},
                                                  {"d/sub/", ""},
                                                  {"d/sub/empty.nif", ""}}))
        << mode.name;
    EXPECT_EQ(readFile(dir / "outside/target"), bytesOf("untouched")) << mode.name;
  }
}

// The kernel's copy and the fallback through a buffer give the same file; a source that ends
// before the range does fails the write and leaves nothing behind.
TEST(CopyOutputFile, CopiesTheRangeInTheKernelOrThroughABuffer) {
  using namespace oxtrel::testing;
  Bytes source(3 << 20);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i ^ (i >> 11));
  for (bool inKernel : {true, false}) {
    ScratchDir dir;
    writeFile(dir / "source", source);
    int sourceFd = open((dir / "source").c_str(), O_RDONLY | O_CLOEXEC);
    int parent = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    OutputTree tree = makeOutputTree(parent, {.copyInKernel = inKernel});
    const uint64_t offset = 12345, length = source.size() - 2 * offset;
    EXPECT_TRUE(copyOutputFile(tree, splitOutputPath("x\\whole.dds"), {sourceFd, offset, length}).ok());
    EXPECT_TRUE(copyOutputFile(tree, splitOutputPath("x\\empty.dds"), {sourceFd, offset, 0}).ok());
    Status past = copyOutputFile(tree, splitOutputPath("x\\past.dds"), {sourceFd, source.size() - 10, 20});
    ASSERT_FALSE(past.ok());
    EXPECT_EQ(past.error().systemError, EIO);
    close(parent);
    close(sourceFd);
    auto written = snapshotTree(dir / "data");
    EXPECT_EQ(written.size(), 3u) << inKernel;
    EXPECT_EQ(written["x/whole.dds"], std::string(reinterpret_cast<const char*>(source.data()) + offset, size_t(length))) << inKernel;
    EXPECT_EQ(written["x/empty.dds"], "") << inKernel;
  }
}

}  // namespace
}  // namespace oxtrel
