// Differential: random archives full of paths that meet on the file system, extracted into trees
// planted with files, directories and links, must give one thread's console bytes, exit status
// and tree at every number of threads, and where openat2 is refused or the portable calls are
// forced.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include "archive_builder.h"
#include "process_runner.h"
#include "scratch.h"
#include "syscall_filter.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
namespace fs = std::filesystem;

// Folder and file names chosen so that random picks collide: the same path twice, twins that
// differ in '/' versus '\' or by a "." component, a file where a directory is wanted (folder
// "a\b" against file "b" in folder "a"), names that are directories, and paths that leave data.
const char* const kFolders[] = {"a", "a\\b", "a/b", "a\\.\\b", "", "b", "a\\b\\c", "x.nif", "s", "s\\in", "..\\up"};
const char* const kNames[] = {"x.nif", "X.NIF", "b", "c", "y.dds", "s", "in", "q\\r.kf", "..", ".", "z.wav"};

// Links and files a previous run (or the user) left in data, and a directory outside it.
void plant(const std::string& root, std::mt19937& rng) {
  fs::create_directories(root + "/outside");
  fs::create_directories(root + "/data/a");
  std::bernoulli_distribution coin(0.5);
  if (coin(rng)) fs::create_directory_symlink("../outside", root + "/data/s");
  if (coin(rng)) writeFile(root + "/data/a/x.nif", bytesOf("old"));
  if (coin(rng)) fs::create_symlink("../../outside/target", root + "/data/a/c");
  if (coin(rng)) fs::create_directories(root + "/data/y.dds");
  if (coin(rng)) writeFile(root + "/data/b", bytesOf("a file where a folder may go"));
}

Bytes randomBytes(std::mt19937& rng, size_t size) {
  Bytes b(size);
  for (uint8_t& byte : b) byte = uint8_t(rng());
  return b;
}

TestArchive randomArchive(std::mt19937& rng) {
  auto pick = [&](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
  TestArchive a;
  bool compressed = pick(2) == 0;
  a.header.archiveFlags = compressed ? kCompressedFlag : 0;
  // Enough records that the threads share them out, in batches of a few dozen.
  size_t folders = 1 + pick(12);
  for (size_t f = 0; f < folders; ++f) {
    TestFolder folder{.name = kFolders[pick(std::size(kFolders))]};
    size_t files = pick(40);
    for (size_t i = 0; i < files; ++i) {
      TestFile file{.name = kNames[pick(std::size(kNames))]};
      // Large stored payloads take the file-to-file copy; most stay small.
      size_t size = pick(100) == 0 ? 300 * 1024 + pick(1000) : pick(3000);
      Bytes plain = randomBytes(rng, size);
      switch (pick(12)) {
        case 0:
          file.hash = NameHash{1, 2, 3, 4, 5, 6, 7, uint8_t(pick(256))};  // matches no name
          break;
        case 1:
          if (plain.size() >= 6) {  // looks packed when stored
            plain[4] = 0x78;
            plain[5] = 0x9C;
          }
          break;
        case 2:
          file.offset = uint32_t(1u << 30);  // past the end
          break;
      }
      file.payload = compressed ? compressedPayload(plain) : plain;
      if (compressed && pick(8) == 0) file.payload[file.payload.size() / 2 + 2] ^= 0x5A;  // corrupt stream
      if (compressed && pick(10) == 0) file.payload = compressedPayload(plain, uint32_t(plain.size() / 2));
      folder.files.push_back(std::move(file));
    }
    a.folders.push_back(std::move(folder));
  }
  return a;
}

struct Outcome {
  ProcessResult result;
  std::map<std::string, std::string> tree;  // files by size and digest, so a failure prints short
};

std::map<std::string, std::string> digestTree(const std::string& root) {
  std::map<std::string, std::string> tree = snapshotTree(root);
  for (auto& [path, contents] : tree)
    if (!path.ends_with('/') && !contents.starts_with("-> "))
      contents = std::to_string(contents.size()) + " bytes, " + std::to_string(std::hash<std::string>{}(contents));
  return tree;
}

Outcome extractWith(const Bytes& archive, uint32_t plantSeed, bool truncate, std::vector<std::string> args,
                    const std::function<void()>& beforeExec = {}) {
  ScratchDir dir;
  std::mt19937 rng(plantSeed);
  plant(dir.path, rng);
  Bytes bytes = archive;
  if (truncate) bytes.resize(bytes.size() - bytes.size() / 8);
  writeFile(dir / "a.vrk", bytes);
  Outcome run{runOxtrel(args, dir.path, beforeExec), {}};
  fs::remove(dir / "a.vrk");
  run.tree = digestTree(dir.path);
  return run;
}

TEST(ParallelExtraction, EveryJobCountGivesTheSequentialResult) {
  // Every mode that writes or checks, and a selection: options, the archive, patterns.
  const std::vector<std::vector<std::string>> modes = {
      {"a.vrk"}, {"-k", "a.vrk"}, {"-t", "a.vrk"}, {"-x", "**.wav", "a.vrk", "a/**", "*"}};
  std::mt19937 rng(20261208);
  for (int round = 0; round < 32; ++round) {
    Bytes archive = buildArchive(randomArchive(rng));
    uint32_t plantSeed = uint32_t(rng());
    bool truncate = round % 7 == 3;
    std::vector<std::string> mode = modes[size_t(round) % modes.size()];
    auto with = [&](const char* jobs, const std::function<void()>& beforeExec = {}) {
      std::vector<std::string> args = {"-j", jobs};
      args.insert(args.end(), mode.begin(), mode.end());
      return extractWith(archive, plantSeed, truncate, args, beforeExec);
    };
    // Every other round, payloads above 1000 bytes are inflated piece by piece.
    if (round % 2 == 1) setenv("OXTREL_STREAMING_THRESHOLD", "1000", 1);
    Outcome one = with("1");
    // Each round also runs where openat2 is missing or refused, in turn, or with every portable
    // call forced (named temporaries, copies through memory, fresh mappings too).
    const int refusal[] = {ENOSYS, EPERM, EACCES, 0};
    const int error = refusal[round % 4];
    if (error == 0) setenv("OXTREL_NO_FAST_PATHS", "1", 1);
    Outcome many = with("4");
    Outcome fallback = error != 0 ? with(round % 8 < 4 ? "4" : "1", [error] { refuseOpenat2(error); }) : with("1");
    unsetenv("OXTREL_NO_FAST_PATHS");
    unsetenv("OXTREL_STREAMING_THRESHOLD");
    std::string what = "round " + std::to_string(round) + ", " + mode[0] + ", refused with " + std::to_string(error);
    for (const Outcome* other : {&many, &fallback}) {
      ASSERT_EQ(other->result.out, one.result.out) << what;
      ASSERT_EQ(other->result.err, one.result.err) << what;
      ASSERT_EQ(other->result.exitStatus, one.result.exitStatus) << what;
      ASSERT_EQ(other->tree, one.tree) << what;
    }
  }
}

// Eight threads, each growing its buffers entry after entry, on large compressed entries: the
// whole run must equal one thread's, and under ThreadSanitizer (whose build runs this too) it
// must report no race.
TEST(ParallelExtraction, LargeCompressedEntriesOnEightThreadsGiveTheSequentialResult) {
  std::mt19937 rng(20261209);
  TestArchive a;
  a.header.archiveFlags = kCompressedFlag;
  for (const char* name : {"meshes", "textures", "sound\\fx"}) {
    TestFolder folder{.name = name};
    for (size_t i = 0; i < 40; ++i) {
      // Every fourth entry is large, and they grow: each thread's buffer grows several times.
      size_t size = i % 4 == 3 ? (256 * 1024 + i * 60 * 1024) : 1 + size_t(rng() % 3000);
      Bytes plain(size);
      for (size_t j = 0; j < size; ++j) plain[j] = uint8_t(j % 251 == 0 ? rng() : j / 7);
      folder.files.push_back({.name = "f" + std::to_string(i) + ".bin", .payload = compressedPayload(plain)});
    }
    a.folders.push_back(std::move(folder));
  }
  Bytes archive = buildArchive(a);
  Outcome one = extractWith(archive, 7, false, {"-j", "1", "a.vrk"});
  Outcome eight = extractWith(archive, 7, false, {"-j", "8", "a.vrk"});
  EXPECT_EQ(one.result.exitStatus, 0) << one.result.err;
  EXPECT_EQ(eight.result.err, one.result.err);
  EXPECT_EQ(eight.result.out, one.result.out);
  EXPECT_EQ(eight.result.exitStatus, one.result.exitStatus);
  EXPECT_EQ(eight.tree, one.tree);
}

TEST(ParallelExtraction, AStopSignalEndsTheRunAfterAPrefixOfTheEntries) {
  // Many small files, so that the run is still going when the signal comes.
  TestArchive a;
  for (int f = 0; f < 100; ++f) {
    TestFolder folder{.name = "f" + std::to_string(f)};
    for (int i = 0; i < 100; ++i) folder.files.push_back({.name = std::to_string(i) + ".nif", .payload = bytesOf("x")});
    a.folders.push_back(std::move(folder));
  }
  Bytes archive = buildArchive(a);
  ScratchDir whole;
  writeFile(whole / "a.vrk", archive);
  ProcessResult full = runOxtrel({"-j", "1", "a.vrk"}, whole.path);
  ASSERT_EQ(full.exitStatus, 0);

  ScratchDir dir;
  writeFile(dir / "a.vrk", archive);
  ProcessResult r = runOxtrel({"-j", "4", "a.vrk"}, dir.path, [] {
    // A grandchild interrupts the program this child becomes.
    if (fork() == 0) {
      close(STDOUT_FILENO);
      close(STDERR_FILENO);
      usleep(150000);
      kill(getppid(), SIGINT);
      _exit(0);
    }
  });
  ASSERT_TRUE(r.exitStatus == 128 + SIGINT || r.exitStatus == 0) << r.exitStatus;
  // The lines are the uninterrupted run's first ones, and the files exactly theirs, whole.
  EXPECT_TRUE(full.out.starts_with(r.out) && (r.out.empty() || r.out.ends_with('\n')));
  std::map<std::string, std::string> expected;
  for (size_t at = 0; at < r.out.size(); at = r.out.find('\n', at) + 1) {
    std::string path = r.out.substr(at + 23, r.out.find('\n', at) - at - 23);  // after "data\\"
    std::replace(path.begin(), path.end(), '\\', '/');
    expected[path.substr(0, path.find('/')) + "/"] = "";
    expected[path] = "x";
  }
  EXPECT_EQ(snapshotTree(dir / "data"), expected);
}

// An entry named "." asks whether its directory exists; an entry after it that makes that
// directory must not run first, or "kept existing" would depend on the threads. Batches hold 32
// records: the "." entry ends the first one and the directory's maker begins the second.
TEST(ParallelExtraction, AnEntryNamedDotSeesTheTreeASequentialRunSees) {
  TestArchive a;
  a.folders.push_back({.name = "f"});
  for (int i = 0; i < 31; ++i) a.folders[0].files.push_back({.name = std::to_string(i) + ".nif", .payload = bytesOf("x")});
  a.folders.push_back({.name = "b", .files = {{.name = ".", .payload = bytesOf("dot")}}});
  a.folders.push_back({.name = "b", .files = {{.name = "x.nif", .payload = bytesOf("x")}}});
  Bytes archive = buildArchive(a);
  Outcome one = extractWith(archive, 0, false, {"-j", "1", "-k", "a.vrk"});
  EXPECT_NE(one.result.out.find("cannot write data\\b\\.: Is a directory"), std::string::npos) << one.result.out;
  for (int round = 0; round < 8; ++round) {
    Outcome many = extractWith(archive, 0, false, {"-j", "4", "-k", "a.vrk"});
    EXPECT_EQ(many.result.out, one.result.out) << round;
    EXPECT_EQ(many.result.exitStatus, one.result.exitStatus) << round;
    EXPECT_EQ(many.tree, one.tree) << round;
  }
}

}  // namespace
}  // namespace oxtrel
