// The entry's contract, checked on the built binary: arguments, messages, exit statuses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

const std::string kUsage = "Usage: oxtrel [OPTION]... <vrkfile> [PATTERN]...\n";

TEST(Cli, NoArgumentsPrintsUsageAndExits2) {
  ScratchDir dir;
  ProcessResult r = runOxtrel({}, dir.path);
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

TEST(Cli, HelpAndVersion) {
  ScratchDir dir;
  for (const char* flag : {"--help", "-h"}) {
    ProcessResult r = runOxtrel({flag}, dir.path);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(r.out.starts_with(kUsage));
  }
  ProcessResult v = runOxtrel({"--version"}, dir.path);
  EXPECT_EQ(v.exitStatus, 0);
  EXPECT_EQ(v.out, std::string("oxtrel ") + OXTREL_VERSION + "\n");
}

TEST(Cli, AFileNamedLikeAnOptionIsReachableWithAPath) {
  ScratchDir dir;
  writeFile(dir / "--help", buildArchive(TestArchive{}));
  ProcessResult r = runOxtrel({"./--help"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "");
}

TEST(Cli, UnopenableArchivesPrintCannotOpenAndExit1) {
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "adir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  for (const char* path : {"missing.vrk", "adir", "fifo", "/dev/null"}) {
    ProcessResult r = runOxtrel({path}, dir.path);
    EXPECT_EQ(r.exitStatus, 1) << path;
    EXPECT_EQ(r.out, std::string("cannot open ") + path + "\n");
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

TEST(Cli, TruncatedCatalogueIsOneLineAndExit1) {
  ScratchDir dir;
  Bytes header = buildArchive(TestArchive{});
  header.resize(20);
  writeFile(dir / "short.vrk", header);
  Bytes huge = buildArchive(TestArchive{});
  storeLe32(huge.data() + 16, 0xFFFFFFFF);
  writeFile(dir / "huge.vrk", huge);
  for (const char* name : {"short.vrk", "huge.vrk"}) {
    ProcessResult r = runOxtrel({name}, dir.path);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, std::string("Error: truncated catalogue in ") + name + "\n");
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

TEST(Cli, ArchiveWithoutFoldersPrintsNothing) {
  ScratchDir dir;
  writeFile(dir / "empty.vrk", buildArchive(TestArchive{}));
  ProcessResult r = runOxtrel({"empty.vrk"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

}  // namespace
}  // namespace oxtrel

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

TEST(Cli, EveryCutThroughTheTablesGivesOneLineAndExit1) {
  TestArchive a;
  a.folders = {{.name = "m\\n", .files = {{.name = "a.nif", .payload = bytesOf("AA")}}},
               {.name = "k", .files = {{.name = "b.kf", .payload = bytesOf("B")}, {.name = "c"}}}};
  Bytes full = buildArchive(a);
  ScratchDir dir;
  for (size_t cut = 0; cut < full.size() - 3; ++cut) {
    writeFile(dir / "cut.vrk", Bytes(full.begin(), full.begin() + ptrdiff_t(cut)));
    ProcessResult r = runOxtrel({"cut.vrk"}, dir.path);
    ASSERT_EQ(r.exitStatus, 1) << "cut at " << cut;
    ASSERT_EQ(r.out, "Error: truncated catalogue in cut.vrk\n") << "cut at " << cut;
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

}  // namespace
}  // namespace oxtrel
