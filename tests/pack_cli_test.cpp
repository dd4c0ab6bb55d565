// oxtrel-pack's contract, checked on the built binary: arguments, messages, exit statuses.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

const std::string kUsage =
    "Usage: oxtrel-pack [-z|--compress] [--level N] [-j|--jobs N] <archive> <directory>\n"
    "       oxtrel-pack --update [--remove PATTERN]... [--to NEW] [--drop-broken] [--level N]\n"
    "                   [-j|--jobs N] <archive> [<directory>]\n";

TEST(PackCli, WrongArgumentsPrintWhyAndUsageOnStderrAndExit2) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"f", "x"}});
  const std::vector<std::vector<std::string>> wrong = {
      {}, {"a.vrk"}, {"a.vrk", "tree", "extra"}, {"--bogus", "a.vrk", "tree"},
      {"-z", "--level", "0", "a.vrk", "tree"}, {"-z", "--level", "13", "a.vrk", "tree"},
      {"-z", "--level", "6x", "a.vrk", "tree"}, {"--level", "6", "a.vrk", "tree"}, {"-z", "--level"},
      {"-j", "0", "a.vrk", "tree"}, {"--jobs=65", "a.vrk", "tree"}, {"-j", "two", "a.vrk", "tree"}, {"-z", "-j"},
      // Updating: options that mean nothing without --update, --compress with it, operands.
      {"--remove", "x", "a.vrk", "tree"}, {"--to", "b.vrk", "a.vrk", "tree"}, {"--drop-broken", "a.vrk", "tree"},
      {"--update", "-z", "a.vrk", "tree"}, {"--update", "a.vrk"}, {"--update"}, {"--update", "a.vrk", "tree", "x"},
      {"--update", "--to=", "a.vrk", "tree"}, {"--update", "--remove"}, {"--update", "--level=0", "a.vrk", "tree"},
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
  // Control bytes in names are escaped, so a name cannot forge a line of its own.
  ASSERT_EQ(symlink("looks.bin", (dir / "tree/a\noxtrel-pack: forged").c_str()), 0);
  const std::string linkNote = "oxtrel-pack: note: tree/a\\x0aoxtrel-pack: forged: symbolic link, not followed\n"
                               "oxtrel-pack: note: tree/link: symbolic link, not followed\n";
  struct Case {
    std::vector<std::string> args;
    int exitStatus;
    std::string out, err;
  };
  const Case cases[] = {
      {{"out.vrk", "tree"}, 0, "out.vrk: 1 files in 1 folders, 6 bytes in, ",
       linkNote + "oxtrel-pack: note: tree/looks.bin: its bytes 4 and 5 are those of a compressed payload; oxtrel "
                  "extracts it unchanged but reports it as possibly packed and exits 1 (--compress avoids this)\n"},
      {{"no\t/out.vrk", "tree"}, 1, "",
       linkNote + "oxtrel-pack: cannot write 'no\\x09/out.vrk': No such file or directory\n"},
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

// What stands at the destination is never destroyed: a link is written through, a file keeps its
// permissions (and owner when run as root), anything else is refused and left as it was.
TEST(PackCli, TheDestinationIsWrittenThroughALinkAndKeptWhenNotAFile) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"f", "payload"}});
  writeTree(dir / "dest", {{"old.vrk", "old"}, {"sub/kept", "k"}});
  ASSERT_EQ(chmod((dir / "dest/old.vrk").c_str(), 0444), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir / "dest/old.vrk").c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(mkfifo((dir / "dest/fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("old.vrk", (dir / "dest/link").c_str()), 0);
  ASSERT_EQ(symlink("link", (dir / "dest/link2").c_str()), 0);
  ASSERT_EQ(symlink("made.vrk", (dir / "dest/dangling").c_str()), 0);
  ASSERT_EQ(symlink("fifo", (dir / "dest/to-fifo").c_str()), 0);
  ASSERT_EQ(symlink("loop", (dir / "dest/loop").c_str()), 0);
  ASSERT_EQ(runPack({"fresh.vrk", "../tree"}, dir / "dest").exitStatus, 0);
  const Bytes archive = readFile(dir / "dest/fresh.vrk");

  for (const char* refused : {"fifo", "sub", "to-fifo"}) {
    std::map<std::string, std::string> before = snapshotTree(dir / "dest");
    ProcessResult r = runPack({std::string("dest/") + refused, "tree"}, dir.path);
    EXPECT_EQ(r.exitStatus, 1) << refused;
    EXPECT_EQ(r.err, "oxtrel-pack: cannot write 'dest/" + std::string(refused) + "': not a regular file\n");
    EXPECT_EQ(snapshotTree(dir / "dest"), before) << refused;
  }
  ProcessResult loop = runPack({"dest/loop", "tree"}, dir.path);
  EXPECT_EQ(loop.exitStatus, 1);
  EXPECT_EQ(loop.err, "oxtrel-pack: cannot write 'dest/loop': Too many levels of symbolic links\n");

  for (const char* through : {"dest/link2", "dest/dangling"}) {
    ProcessResult r = runPack({through, "tree"}, dir.path);
    EXPECT_EQ(r.exitStatus, 0) << through << r.err;
  }
  std::map<std::string, std::string> after = snapshotTree(dir / "dest");
  EXPECT_EQ(after["link"], "-> old.vrk");
  EXPECT_EQ(after["link2"], "-> link");
  EXPECT_EQ(after["dangling"], "-> made.vrk");
  EXPECT_EQ(readFile(dir / "dest/old.vrk"), archive);
  EXPECT_EQ(readFile(dir / "dest/made.vrk"), archive);
  struct stat st;
  ASSERT_EQ(stat((dir / "dest/old.vrk").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_TRUE(std::none_of(after.begin(), after.end(), [](const auto& e) { return e.first.starts_with(".oxtrel-pack-"); }));
}

std::set<std::string> temporariesIn(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path().filename().string().starts_with(".oxtrel-pack-")) names.insert(entry.path().filename());
  return names;
}

// A stop signal removes the run's temporary and ends it with 128 + the signal; a run killed
// outright leaves its temporary, which the next run removes. Files that merely have such a name,
// and a live run's temporary, are left alone.
TEST(PackCli, StopSignalsLeaveNothingAndDeadRunsTemporariesAreSwept) {
  ScratchDir dir;
  std::string big(48 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char('a' + ((i * 2654435761u) >> 7) % 23 + (i % 4096 < 9));
  writeTree(dir / "tree", {{"big", big}});
  writeTree(dir / "out", {{".oxtrel-pack-mine", "a user's file"}});
  int held = open((dir / "out/.oxtrel-pack-held").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  if (fsetxattr(held, "user.oxtrel.temporary", ".oxtrel-pack-held", 17, 0) != 0) GTEST_SKIP() << "no extended attributes here";

  // A grandchild sends the signal to the pack once its temporary stands beside the archive.
  auto signalOnceWriting = [&](int signal) {
    return [&dir, signal] {
      pid_t pack = getpid();
      const std::set<std::string> before = temporariesIn(dir / "out");
      if (fork() != 0) return;
      close(STDOUT_FILENO);
      close(STDERR_FILENO);
      for (int i = 0; i < 2000 && getppid() == pack; ++i) {
        std::set<std::string> now = temporariesIn(dir / "out");
        // Signalled once marked: a run killed between creating its temporary and marking it
        // would leave one that is never swept.
        auto marked = [&](const std::string& name) {
          return !before.contains(name) && getxattr((dir / "out/" + name).c_str(), "user.oxtrel.temporary", nullptr, 0) > 0;
        };
        if (std::any_of(now.begin(), now.end(), marked)) {
          kill(pack, signal);
          break;
        }
        usleep(5000);
      }
      _exit(0);
    };
  };
  ProcessResult killed = runPack({"-z", "--level=12", "-j1", "out/a.vrk", "tree"}, dir.path, signalOnceWriting(SIGKILL));
  ASSERT_EQ(killed.signal, SIGKILL);
  ASSERT_EQ(temporariesIn(dir / "out").size(), 3u) << "the killed run's temporary stays";

  const std::set<std::string> planted = {".oxtrel-pack-held", ".oxtrel-pack-mine"};
  for (int signal : {SIGINT, SIGTERM}) {
    ProcessResult r = runPack({"-z", "--level=12", "-j2", "out/a.vrk", "tree"}, dir.path, signalOnceWriting(signal));
    EXPECT_EQ(r.exitStatus, 128 + signal) << r.signal;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(temporariesIn(dir / "out"), planted) << signal;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/a.vrk"));
  }
  EXPECT_EQ(readFile(dir / "out/.oxtrel-pack-mine"), bytesOf("a user's file"));
  close(held);
}

// --update: one summary line; notes and a refusal one line each on stderr, exit 1, the archive
// untouched; the permission bits kept; --to leaves the archive alone, and --to naming the
// archive through a link updates it in place.
TEST(PackCli, UpdateAddsReplacesRemovesAndRefusesInOneLine) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"a.txt", "12345"}, {"sub/b.txt", "678"}, {"sub/c.txt", "9"}});
  ASSERT_EQ(runPack({"-z", "a.vrk", "tree"}, dir.path).exitStatus, 0);
  ASSERT_EQ(chmod((dir / "a.vrk").c_str(), 0640), 0);
  writeTree(dir / "edits", {{"sub/b.txt", "new b"}, {"d/e.txt", "e"}});

  ProcessResult r = runPack({"--update", "--remove", "sub/c.txt", "--level=9", "-j2", "a.vrk", "edits"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "a.vrk: 3 files in 3 folders (1 kept, 1 replaced, 1 added, 1 removed, 0 dropped), 6 bytes in, " +
                       std::to_string(readFile(dir / "a.vrk").size()) + " bytes out\n");
  struct stat st{};
  ASSERT_EQ(stat((dir / "a.vrk").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ProcessResult listed = runOxtrel({"-l", "a.vrk"}, dir.path);
  EXPECT_NE(listed.out.find("data\\d\\e.txt"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("c.txt"), std::string::npos) << listed.out;

  const Bytes updated = readFile(dir / "a.vrk");
  ASSERT_EQ(symlink("a.vrk", (dir / "link.vrk").c_str()), 0);
  struct Refusal {
    std::vector<std::string> args;
    std::string err;
  };
  writeTree(dir / "twin", {{"D/E.TXT", "twin"}});
  const std::vector<Refusal> refusals = {
      {{"--update", "a.vrk", "twin"},
       "oxtrel-pack: 'twin/D/E.TXT' and 'd/e.txt' have the same name hash"},
      {{"--update", "--remove", "nothing", "a.vrk"}, "oxtrel-pack: no entry matches nothing (nothing was removed)\n"},
      {{"--update", "--remove", "a.txt", "missing.vrk"}, "oxtrel-pack: cannot open missing.vrk: No such file or directory\n"},
  };
  for (const Refusal& refusal : refusals) {
    ProcessResult refused = runPack(refusal.args, dir.path);
    EXPECT_EQ(refused.exitStatus, 1) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(refused.err.starts_with(refusal.err)) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_EQ(readFile(dir / "a.vrk"), updated);
  }

  ProcessResult elsewhere = runPack({"--update", "--remove", "a.txt", "--to", "b.vrk", "a.vrk"}, dir.path);
  EXPECT_EQ(elsewhere.exitStatus, 0) << elsewhere.err;
  EXPECT_TRUE(elsewhere.out.starts_with("b.vrk: 2 files in 2 folders (2 kept, 0 replaced, 0 added, 1 removed"));
  EXPECT_EQ(readFile(dir / "a.vrk"), updated);
  ProcessResult throughLink = runPack({"--update", "--remove", "a.txt", "--to", "link.vrk", "a.vrk"}, dir.path);
  EXPECT_EQ(throughLink.exitStatus, 0) << throughLink.err;
  EXPECT_EQ(readFile(dir / "a.vrk"), readFile(dir / "b.vrk"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.vrk"));
}

}  // namespace
}  // namespace oxtrel
