// The entry's contract, checked on the built binary: arguments, messages, exit statuses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive_builder.h"
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
