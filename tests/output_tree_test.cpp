#include "extract/output_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "archive_builder.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "cli/stop_signals.h"
#include "extract/entry_selection.h"
#include "extract/extraction_walk.h"
#include "scratch.h"

namespace oxtrel {
namespace {

std::vector<std::string> dirs(const OutputPath& p) { return {p.directories.begin(), p.directories.end()}; }

TEST(SplitOutputPath, BothSeparatorsInAnyMix) {
  OutputPath p = splitOutputPath("a/b\\c\\name.nif");
  EXPECT_EQ(dirs(p), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(p.fileName, "name.nif");
  EXPECT_FALSE(p.unsafe);
}

TEST(SplitOutputPath, EmptyComponentsAskForNoDirectory) {
  OutputPath p = splitOutputPath("\\x\\\\/y\\f");
  EXPECT_EQ(dirs(p), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(p.fileName, "f");
  EXPECT_EQ(splitOutputPath("dir\\").fileName, "");  // names a directory, not a file
}

TEST(SplitOutputPath, DotDotOnlyAsAWholeComponent) {
  EXPECT_TRUE(splitOutputPath("a\\..\\b").unsafe);
  EXPECT_TRUE(splitOutputPath("a\\..").unsafe);
  EXPECT_TRUE(splitOutputPath("../x").unsafe);
  EXPECT_FALSE(splitOutputPath("a..\\..b\\...").unsafe);
  EXPECT_FALSE(splitOutputPath(".\\x").unsafe);
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
    bool throughProc = true;
  };
  for (Mode mode : {Mode{"by descriptor", true, true}, Mode{"through /proc", true, false},
                    Mode{"named temporary", false, false}, Mode{"no way to name", true, false, false}}) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "data/d/dir.nif");
    std::filesystem::create_directories(dir / "outside");
    writeFile(dir / "outside/target", bytesOf("untouched"));
    writeFile(dir / "data/d/old.nif", bytesOf("old contents"));
    ASSERT_EQ(symlink("../../outside/target", (dir / "data/d/link.nif").c_str()), 0);
    int parent = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(parent, 0);
    OutputTree tree = makeOutputTree(parent, {.unnamedFiles = mode.unnamed,
                                              .linkByDescriptor = mode.byDescriptor,
                                              .linkThroughProc = mode.throughProc});

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

using namespace oxtrel::testing;
using Tree = std::map<std::string, std::string>;

// Runs body in a child process and returns its exit status (-1 when it did not exit).
int inChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WriteOutputFile, FallsBackToANamedTemporaryWithoutProc) {
  // Without /proc, and with link-by-descriptor refused, an unnamed file cannot be named.
  ScratchDir dir;
  writeTree(dir / "data", {{"d/old.nif", "old"}});
  int status = inChild([&] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
      return 77;
    int parent = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    OutputTree tree = makeOutputTree(parent, {.linkByDescriptor = false});
    bool ok = writeOutputFile(tree, splitOutputPath("d\\new.nif"), bytesOf("new")).ok() &&
              writeOutputFile(tree, splitOutputPath("d\\old.nif"), bytesOf("replaced")).ok();
    return ok && !tree.publisher.options.unnamedFiles ? 0 : 1;
  });
  if (status == 77) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(snapshotTree(dir / "data"), (Tree{{"d/", ""}, {"d/new.nif", "new"}, {"d/old.nif", "replaced"}}));
}

TEST(WriteOutputFile, DirectoriesVisitedInTurnAreAllWrittenRight) {
  // More folders in turn than directories kept open, some inside others.
  ScratchDir dir;
  int parent = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  OutputTree tree = makeOutputTree(parent);
  const char* folders[] = {"a", "a\\b", "c\\d\\e", "", "f", "a\\b\\g", "c"};
  Tree expected;
  for (int round = 0; round < 3; ++round) {
    for (const char* folder : folders) {
      std::string name = "f" + std::to_string(round) + ".nif";
      std::string path = std::string(folder) + "\\" + name;
      ASSERT_TRUE(writeOutputFile(tree, splitOutputPath(path), bytesOf(path)).ok()) << path;
      std::string key = folder;
      std::replace(key.begin(), key.end(), '\\', '/');
      expected[(key.empty() ? "" : key + "/") + name] = path;
      for (size_t slash = 0; (slash = key.find('/', slash + 1)) != std::string::npos;) expected[key.substr(0, slash) + "/"] = "";
      if (!key.empty()) expected[key + "/"] = "";
    }
  }
  close(parent);
  EXPECT_EQ(snapshotTree(dir / "data"), expected);
}

TEST(WriteOutputFile, AStopSignalWaitsForTheFileAndTheWalkEndsAfterIt) {
  // The signal arrives at the worst moment: the replacement linked under its temporary name, not
  // yet renamed. The file is finished, no temporary stays, and no later entry is begun.
  static const Tree before{{"m/", ""}, {"m/a.nif", "old a"}, {"m/b.nif", "old b"}};
  TestArchive archive;
  archive.folders = {{.name = "m", .files = {{.name = "a.nif", .payload = bytesOf("new a")},
                                             {.name = "b.nif", .payload = bytesOf("new b")}}}};
  Bytes bytes = buildArchive(archive);
  for (bool unnamed : {true, false}) {
    ScratchDir dir;
    writeTree(dir / "data", {{"m/a.nif", "old a"}, {"m/b.nif", "old b"}});
    FILE* console = std::tmpfile();
    int status = inChild([&] {
      catchStopSignals();
      PositionalFile file = memoryFile(bytes);
      Result<Catalogue> loaded = loadCatalogue(file);
      if (!loaded) return 1;
      NameIndex index = buildNameIndex(std::span(bytes).subspan(size_t(loaded->nameBlockOffset)),
                                       loaded->header.fileCount, requestedNameKeys(*loaded));
      int parent = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      OutputTree tree = makeOutputTree(parent, {.unnamedFiles = unnamed, .onTemporaryLinked = [] { raise(SIGINT); }});
      const EventSink entryPaths{[](void* out, const ExtractionEvent& event) {
                                   if (event.kind == EventKind::entry)
                                     std::fprintf(static_cast<FILE*>(out), "%.*s\n", int(event.path.size()),
                                                  event.path.data());
                                 },
                                 console};
      WalkSettings settings;
      settings.stop = &stopSignalFlag();
      ExtractionSummary summary =
          extractAll(*loaded, index, file, tree, selectEntries(*loaded, index, {}, {}), settings, entryPaths);
      std::fflush(console);
      return summary.stoppedBy == 0 ? 0 : 128 + summary.stoppedBy;
    });
    EXPECT_EQ(status, 128 + SIGINT) << unnamed;
    Tree after = before;
    after["m/a.nif"] = "new a";
    EXPECT_EQ(snapshotTree(dir / "data"), after) << unnamed;
    std::rewind(console);
    char line[256] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, console));
    EXPECT_EQ(std::string(line), "data\\m\\a.nif\n");
    EXPECT_FALSE(std::fgets(line, sizeof line, console)) << line;
    std::fclose(console);
  }
}

}  // namespace
}  // namespace oxtrel
