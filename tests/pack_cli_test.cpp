// oxtrel-pack's contract, checked on the built binary: arguments, messages, exit statuses.

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

const std::string kUsage =
    "Usage: oxtrel-pack [-z|--compress] [--level N] [-j|--jobs N] <archive> <directory>\n";

TEST(PackCli, WrongArgumentsPrintWhyAndUsageOnStderrAndExit2) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"f", "x"}});
  const std::vector<std::vector<std::string>> wrong = {
      {}, {"a.vrk"}, {"a.vrk", "tree", "extra"}, {"--bogus", "a.vrk", "tree"},
      {"-z", "--level", "0", "a.vrk", "tree"}, {"-z", "--level", "13", "a.vrk", "tree"},
      {"-z", "--level", "6x", "a.vrk", "tree"}, {"--level", "6", "a.vrk", "tree"}, {"-z", "--level"},
      {"-j", "0", "a.vrk", "tree"}, {"--jobs=65", "a.vrk", "tree"}, {"-j", "two", "a.vrk", "tree"}, {"-z", "-j"},
  };
  for (const auto& args : wrong) {
    ProcessResult r = runPack(args, dir.path);
    EXPECT_EQ(r.exitStatus, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("oxtrel-pack: ") && r.err.ends_with(kUsage)) << r.err;
  }
  EXPECT_EQ(snapshotTree(dir.path).count("a.vrk"), 0u);
}

TEST(PackCli, HelpAndVersionGoToStdoutAndExit0) {
  ScratchDir dir;
  for (const char* flag : {"--help", "-h"}) {
    ProcessResult r = runPack({flag}, dir.path);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(r.out.starts_with(kUsage));
    EXPECT_NE(r.out.find("Symbolic links are not followed"), std::string::npos);
  }
  ProcessResult v = runPack({"--version"}, dir.path);
  EXPECT_EQ(v.exitStatus, 0);
  EXPECT_EQ(v.out, std::string("oxtrel-pack ") + OXTREL_VERSION + "\n");
}

TEST(PackCli, SuccessPrintsOneSummaryLine) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"a.txt", "12345"}, {"sub/b.txt", "678"}, {"sub/deeper/c", ""}});
  ProcessResult r = runPack({"--compress", "--level=9", "out.vrk", "tree"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "out.vrk: 3 files in 3 folders, 8 bytes in, " +
                       std::to_string(readFile(dir / "out.vrk").size()) + " bytes out\n");
  for (const std::vector<std::string>& jobs : {std::vector<std::string>{"-j1"}, {"--jobs=3"}, {"-j", "64"}}) {
    std::vector<std::string> args = {"-z", "--level=9", "again.vrk", "tree"};
    args.insert(args.begin() + 1, jobs.begin(), jobs.end());
    ProcessResult again = runPack(args, dir.path);
    EXPECT_EQ(again.exitStatus, 0) << jobs[0] << again.err;
    EXPECT_EQ(readFile(dir / "again.vrk"), readFile(dir / "out.vrk")) << jobs[0];
  }
}

TEST(PackCli, NotesComeFirstOnStderrWhetherThePackSucceedsOrFails) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"looks.bin", std::string("\1\2\3\4\x78\x9c", 6)}});
  ASSERT_EQ(symlink("looks.bin", (dir / "tree/link").c_str()), 0);
  const std::string linkNote = "oxtrel-pack: note: tree/link: symbolic link, not followed\n";
  struct Case {
    std::vector<std::string> args;
    int exitStatus;
    std::string out, err;
  };
  const Case cases[] = {
      {{"out.vrk", "tree"}, 0, "out.vrk: 1 files in 1 folders, 6 bytes in, ",
       linkNote + "oxtrel-pack: note: tree/looks.bin: its bytes 4 and 5 are those of a compressed payload; oxtrel "
                  "extracts it unchanged but reports it as possibly packed and exits 1 (--compress avoids this)\n"},
      {{"no/out.vrk", "tree"}, 1, "",
       linkNote + "oxtrel-pack: cannot write 'no/out.vrk': No such file or directory\n"},
  };
  for (const Case& c : cases) {
    ProcessResult r = runPack(c.args, dir.path);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << c.args[0];
    EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(PackCli, FailuresGoToStderrWithExit1AndLeaveNoArchive) {
  ScratchDir dir;
  writeTree(dir / "clash", {{"a/Same.txt", "1"}, {"b/same.TXT", "2"}});
  writeTree(dir / "secret-file", {{"ok.txt", "fine"}, {"secret.txt", "no"}});
  writeTree(dir / "secret-dir", {{"ok.txt", "fine"}, {"locked/f.txt", "no"}});
  ASSERT_EQ(chmod((dir / "secret-file/secret.txt").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir / "secret-dir/locked").c_str(), 0), 0);
  // Root reads anything, so the run drops to an unprivileged user who can reach the rest. The
  // build tree may lie below a directory only its owner enters (a clone in root's home), so that
  // user runs a copy of the binary from a directory anyone may enter.
  ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
  ScratchDir bin;
  ASSERT_EQ(chmod(bin.path.c_str(), 0755), 0);
  const std::string pack = bin / "oxtrel-pack";
  std::filesystem::copy_file(OXTREL_PACK_BINARY, pack);
  auto unprivileged = [] {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(124);
  };
  struct Case {
    const char* tree;
    std::string message;
  };
  for (const Case& c : {Case{"clash", "oxtrel-pack: 'clash/a/Same.txt' and 'clash/b/same.TXT' have the same name hash"},
                        Case{"secret-file", "oxtrel-pack: cannot read 'secret-file/secret.txt': Permission denied\n"},
                        Case{"secret-dir", "oxtrel-pack: cannot read directory 'secret-dir/locked': Permission denied\n"}}) {
    ProcessResult r = runProgram(pack, {"-z", "out.vrk", c.tree}, dir.path, unprivileged);
    EXPECT_EQ(r.exitStatus, 1) << c.tree;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with(c.message)) << r.err;
    EXPECT_EQ(snapshotTree(dir.path).count("out.vrk"), 0u);
  }
  std::map<std::string, std::string> left = snapshotTree(dir.path);
  EXPECT_TRUE(std::none_of(left.begin(), left.end(), [](const auto& e) { return e.first.starts_with(".oxtrel-pack-"); }));
}

}  // namespace
}  // namespace oxtrel
