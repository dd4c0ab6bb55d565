// The Windows side of the platform layer, on a real (or Wine's) file system: the walk below a
// directory handle, atomic publishing, the name rules, case folding and long paths.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/write_order.h"
#include "platform/platform.h"

namespace oxtrel::platform {
namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() {
    path = fs::temp_directory_path() / ("oxtrel-win-" + std::to_string(GetCurrentProcessId()) + "-" +
                                        std::to_string(GetTickCount64()) + "-" + std::to_string(counter++));
    fs::create_directories(path);
    EXPECT_EQ(openDirectory(path.string(), directory), 0);
  }
  ~Scratch() {
    directory.reset();
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::vector<std::string> names() const {
    std::vector<DirectoryEntry> entries;
    std::string failed;
    EXPECT_EQ(listDirectory(path.string(), false, entries, failed), 0);
    std::vector<std::string> result;
    for (const DirectoryEntry& entry : entries) result.push_back(entry.name);
    std::sort(result.begin(), result.end());
    return result;
  }
  static inline int counter = 0;
  fs::path path;
  Directory directory;
};

std::string contents(const fs::path& path) {
  File file;
  EXPECT_EQ(openForReading(path.string(), true, file), 0) << path;
  std::string bytes(1 << 16, '\0');
  size_t done = 0;
  EXPECT_EQ(readFully(file.get(), {reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()}, 0, done), 0);
  bytes.resize(done);
  return bytes;
}

SystemError publish(Publisher& publisher, NativeHandle directory, const std::string& name, std::string_view text) {
  Content content{{reinterpret_cast<const uint8_t*>(text.data()), text.size()}, nullptr, nullptr};
  return publishFile(publisher, directory, name, content);
}

TEST(WindowsPlatform, ChildrenAreOpenedMadeAndRefusedAsOnPosix) {
  Scratch scratch;
  Publisher publisher = makePublisher({});
  ASSERT_EQ(publish(publisher, scratch.directory.get(), "file", "x"), 0);
  struct Case {
    std::string name;
    bool create;
    SystemError expected;
  };
  const Case cases[] = {
      {"missing", false, ENOENT}, {"made", true, 0},         {"made", false, 0},
      {"MADE", false, 0},         {"file", true, ENOTDIR},   {"FILE", false, ENOTDIR},
      {"a:b", true, EINVAL},      {"con", true, EINVAL},     {"lpt1.txt", true, EINVAL},
      {"dot.", true, EINVAL},     {"space ", true, EINVAL},  {"q?", true, EINVAL},
  };
  for (const Case& c : cases) {
    Directory child;
    EXPECT_EQ(openChild(scratch.directory.get(), c.name, c.create, child), c.expected) << c.name;
    EXPECT_EQ(child.valid(), c.expected == 0) << c.name;
  }
  EXPECT_EQ(scratch.names(), (std::vector<std::string>{"file", "made"}));
  FileStatus status;
  EXPECT_EQ(statusAt(scratch.directory.get(), "FiLe", status), 0);
  EXPECT_EQ(status.kind, FileKind::regular);
  EXPECT_EQ(statusAt(scratch.directory.get(), "mAde", status), 0);
  EXPECT_EQ(status.kind, FileKind::directory);
  EXPECT_EQ(statusAt(scratch.directory.get(), "missing", status), ENOENT);
}

TEST(WindowsPlatform, PublishingReplacesWholeAndLeavesNoTemporary) {
  Scratch scratch;
  Publisher publisher = makePublisher({});
  ASSERT_EQ(publish(publisher, scratch.directory.get(), "a.txt", "first, and longer"), 0);
  ASSERT_EQ(publish(publisher, scratch.directory.get(), "a.txt", "second"), 0);
  EXPECT_EQ(contents(scratch.path / "a.txt"), "second");
  // A case twin is the same file: the later replaces the earlier.
  ASSERT_EQ(publish(publisher, scratch.directory.get(), "A.TXT", "third"), 0);
  EXPECT_EQ(scratch.names().size(), 1u);
  EXPECT_EQ(contents(scratch.path / "a.txt"), "third");
  // A directory at the name is refused as on POSIX, and nothing is left beside it.
  fs::create_directory(scratch.path / "dir");
  EXPECT_EQ(publish(publisher, scratch.directory.get(), "dir", "x"), EISDIR);
  EXPECT_EQ(publish(publisher, scratch.directory.get(), "nul.txt", "x"), EINVAL);
  EXPECT_EQ(publish(publisher, scratch.directory.get(), "x:stream", "x"), EINVAL);
  // Which spelling stays is the file system's choice (NTFS takes the new one, Wine keeps the old).
  std::vector<std::string> names = scratch.names();
  ASSERT_EQ(names.size(), 2u);
  std::string one, other;
  EXPECT_EQ(nameKey(names[0], one), nameKey("a.txt", other));
  EXPECT_EQ(names[1], "dir");

  // A range of another file is copied as the bytes are.
  File source;
  ASSERT_EQ(openForReading((scratch.path / "A.TXT").string(), false, source), 0);  // either spelling
  FileRange range{source.get(), 1, 3};
  ASSERT_EQ(publishFile(publisher, scratch.directory.get(), "range", {{}, &range}), 0);
  EXPECT_EQ(contents(scratch.path / "range"), "hir");
  FileRange past{source.get(), 3, 10};
  EXPECT_EQ(publishFile(publisher, scratch.directory.get(), "past", {{}, &past}), EIO);
  FileStatus status;
  EXPECT_EQ(statusAt(scratch.directory.get(), "past", status), ENOENT);
}

TEST(WindowsPlatform, ProcessesAreToldAliveOrGone) {
  EXPECT_FALSE(processGone(processId()));
  EXPECT_TRUE(processGone(4000000000u));
}

TEST(WindowsPlatform, NamesFoldAsTheFileSystemDoes) {
  struct Case {
    std::string a, b;
    bool same;
  };
  const Case cases[] = {
      {"readme.txt", "README.TXT", true}, {"caf\xc3\xa9", "CAF\xc3\x89", true},
      {"caf\xe9", "CAF\xc3\x89", true},  // Windows-1252 bytes name the same characters
      {"\xce\xa9mega", "\xcf\x89MEGA", true}, {"\xd0\xb4\xd0\xbe\xd0\xbc", "\xd0\x94\xd0\x9e\xd0\x9c", true},
      {"a", "b", false}, {"a.txt", "a.txt ", false}, {"e", "\xc3\xa9", false},
  };
  std::string a, b;
  for (const Case& c : cases) EXPECT_EQ(nameKey(c.a, a) == nameKey(c.b, b), c.same) << c.a << " / " << c.b;
}

// Case twins are one file here, so a parallel run must order them as it orders a repeated path.
TEST(WindowsPlatform, WriteOrderTakesCaseTwinsAsOnePath) {
  const std::vector<std::string_view> paths = {"Dir\\File.txt", "dir\\file.TXT", "DIR\\other", "dir\\CON", "x\\y"};
  WriteOrder order = planWriteOrder(paths);
  EXPECT_EQ(std::vector<uint32_t>(waitsOf(order, 1).begin(), waitsOf(order, 1).end()), std::vector<uint32_t>{0});
  EXPECT_TRUE(waitsOf(order, 2).empty());
  EXPECT_TRUE(waitsOf(order, 3).empty());  // refused before the file system is looked at
  EXPECT_TRUE(waitsOf(order, 4).empty());
}

TEST(WindowsPlatform, PathsLongerThan260CharactersWork) {
  Scratch scratch;
  Publisher publisher = makePublisher({});
  Directory current;
  ASSERT_EQ(openDirectoryAt(scratch.directory.get(), ".", false, current), 0);
  fs::path full = scratch.path;
  for (int level = 0; level < 8; ++level) {
    std::string name(60, char('a' + level));
    Directory next;
    ASSERT_EQ(openChild(current.get(), name, true, next), 0) << level;
    current = std::move(next);
    full /= name;
  }
  ASSERT_EQ(publish(publisher, current.get(), "deep.txt", "far down"), 0);
  ASSERT_GT(full.string().size(), 480u);
  EXPECT_EQ(contents(full / "deep.txt"), "far down");
  FileStatus status;
  ASSERT_EQ(statusOfPath((full / "deep.txt").string(), status), 0);
  EXPECT_EQ(status.kind, FileKind::regular);
  EXPECT_EQ(status.size, 8u);

  std::string temporary;
  File out;
  const std::string target = (full / "packed.vrk").string();
  ASSERT_EQ(createTemporaryBeside(target, temporary, out), 0);
  const std::string bytes = "archive bytes";
  ASSERT_EQ(writeFully(out.get(), {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, 0), 0);
  ReplaceTarget replaced;
  ASSERT_EQ(findReplaceTarget(target, replaced), 0);
  ASSERT_EQ(commitTemporary(out, temporary, replaced), 0);
  EXPECT_EQ(contents(target), bytes);
}

TEST(WindowsPlatform, ReparsePointsBelowAreNeverFollowed) {
  Scratch scratch;
  fs::create_directory(scratch.path / "outside");
  fs::create_directory(scratch.path / "inside");
  const fs::path link = scratch.path / "inside" / "link";
  if (!CreateSymbolicLinkW(link.wstring().c_str(), (scratch.path / "outside").wstring().c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "this system cannot make a directory link here (error " << GetLastError()
                 << "); junctions and links below data are refused by the reparse-point check";
  }
  DWORD attributes = GetFileAttributesW(link.wstring().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "the link made here is not shown as a reparse point (as under Wine), so its refusal "
                    "cannot be shown";
  }
  Directory inside, child;
  ASSERT_EQ(openChild(scratch.directory.get(), "inside", false, inside), 0);
  EXPECT_EQ(openChild(inside.get(), "link", true, child), ELOOP);
  EXPECT_EQ(openChild(inside.get(), "LINK", false, child), ELOOP);
  // Publishing at the link's name replaces the link; nothing is written where it pointed.
  Publisher publisher = makePublisher({});
  ASSERT_EQ(publish(publisher, inside.get(), "link", "file now"), 0);
  EXPECT_TRUE(fs::is_empty(scratch.path / "outside"));
  EXPECT_EQ(contents(link), "file now");
}

}  // namespace
}  // namespace oxtrel::platform
