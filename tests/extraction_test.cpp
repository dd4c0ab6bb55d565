// End to end: the built binary extracts archives made here into fresh directories, and standard
// output, exit status and the whole tree under the directory are checked.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "archive_builder.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/little_endian.h"
#include "platform/platform.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
using Tree = std::map<std::string, std::string>;

std::string line(const char* format, uint32_t a, uint32_t b, const std::string& path) {
  char buf[4096];
  std::snprintf(buf, sizeof buf, format, a, b, path.c_str());
  return buf;
}
std::string fileLine(const FileRecord& r, const std::string& path) { return line("%8x %8x %s\n", r.offset, r.size, path); }
std::string errorLine(const char* format, const FileRecord& r, const std::string& path) {
  char buf[4096];
  std::snprintf(buf, sizeof buf, format, r.offset, path.c_str());
  return buf;
}

// The records as the archive stores them, to know the offsets the lines must show.
std::vector<std::vector<FileRecord>> recordsOf(const Bytes& bytes) {
  Result<Catalogue> r = loadCatalogue(memoryFile(bytes));
  std::vector<std::vector<FileRecord>> out;
  for (size_t f = 0; f < folderCount(*r); ++f)
    out.emplace_back(folderFiles(*r, f).begin(), folderFiles(*r, f).end());
  return out;
}

struct Outcome {
  ProcessResult result;
  Tree tree;
};

Outcome extract(ScratchDir& dir, const Bytes& archive, const std::function<void()>& beforeExec = {}) {
  writeFile(dir / "a.vrk", archive);
  Outcome run{runOxtrel({"a.vrk"}, dir.path, beforeExec), {}};
  run.tree = snapshotTree(dir / "data");
  return run;
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TestArchive assets(bool compressed) {
  Bytes rock = bytesOf("rock mesh bytes, rock mesh bytes, rock mesh bytes");
  Bytes walk(3000);
  for (size_t i = 0; i < walk.size(); ++i) walk[i] = uint8_t(i * 7 / 3);
  TestArchive a;
  a.header.archiveFlags = compressed ? kCompressedFlag : 0;
  auto payload = [&](const Bytes& b) { return compressed ? compressedPayload(b) : b; };
  a.folders = {
      {.name = "meshes\\rocks", .files = {{.name = "Rock01.NIF", .payload = payload(rock)},
                                          {.name = "empty.kf", .payload = payload({})}}},
      {.name = "anims/walk", .files = {{.name = "walk.cycle.kf", .payload = payload(walk)}}},
  };
  return a;
}

TEST(Extraction, StoredAndCompressedArchivesGiveTheSameTree) {
  for (bool compressed : {false, true}) {
    ScratchDir dir;
    Bytes archive = buildArchive(assets(compressed));
    auto records = recordsOf(archive);
    Outcome run = extract(dir, archive);
    EXPECT_EQ(run.result.exitStatus, 0);
    EXPECT_EQ(run.result.out, fileLine(records[0][0], "data\\meshes\\rocks\\Rock01.NIF") +
                                  fileLine(records[0][1], "data\\meshes\\rocks\\empty.kf") +
                                  fileLine(records[1][0], "data\\anims/walk\\walk.cycle.kf"));
    Bytes walk(3000);
    for (size_t i = 0; i < walk.size(); ++i) walk[i] = uint8_t(i * 7 / 3);
    Tree expected = {{"meshes/", ""},
                     {"meshes/rocks/", ""},
                     {"meshes/rocks/Rock01.NIF", "rock mesh bytes, rock mesh bytes, rock mesh bytes"},
                     {"meshes/rocks/empty.kf", ""},
                     {"anims/", ""},
                     {"anims/walk/", ""},
                     {"anims/walk/walk.cycle.kf", text(walk)}};
    EXPECT_EQ(run.tree, expected) << (compressed ? "compressed" : "stored");
  }
}

TEST(Extraction, UnmatchedHashesAreWarnedPerRecordAndSkipped) {
  TestArchive a;
  a.folders = {{.name = "lost", .files = {{.name = "a.nif", .payload = bytesOf("A")},
                                          {.name = "b.nif", .payload = bytesOf("B")},
                                          {.name = "c.nif", .payload = bytesOf("C")}}},
               {.name = "kept", .files = {{.name = "d.nif", .payload = bytesOf("D")}}}};
  a.nameBlock = bytesOf(std::string("d.nif\0", 6));
  a.fileCount = 1;
  ScratchDir dir;
  Bytes archive = buildArchive(a);
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out, "Warning!!! File 0 in dir lost no found\n"
                            "Warning!!! File 1 in dir lost no found\n"
                            "Warning!!! File 2 in dir lost no found\n" +
                                fileLine(recordsOf(archive)[1][0], "data\\kept\\d.nif"));
  EXPECT_EQ(run.tree, (Tree{{"kept/", ""}, {"kept/d.nif", "D"}}));
}

TEST(Extraction, OneNameServesTheSameHashInEveryFolder) {
  TestArchive a;
  a.folders = {{.name = "x", .files = {{.name = "same.dds", .payload = bytesOf("first")}}},
               {.name = "y", .files = {{.name = "same.dds", .payload = bytesOf("second")}}},
               {.name = "", .files = {{.name = "top.wav", .payload = bytesOf("top")}}}};
  ScratchDir dir;
  Bytes archive = buildArchive(a);
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 0);
  EXPECT_NE(run.result.out.find("data\\\\top.wav\n"), std::string::npos);  // empty folder name
  EXPECT_EQ(run.tree, (Tree{{"x/", ""}, {"x/same.dds", "first"}, {"y/", ""}, {"y/same.dds", "second"},
                            {"top.wav", "top"}}));
}

TEST(Extraction, DecodingProblemsFollowTheEntryLine) {
  Bytes good = compressedPayload(bytesOf("fine"));
  Bytes corrupt = good;
  corrupt[8] ^= 0xFF;
  Bytes tooSmall = compressedPayload(bytesOf("0123456789"), 5);
  Bytes larger = compressedPayload(bytesOf("abc"), 1000);
  Bytes zeroSize = corrupt;
  storeLe32(zeroSize.data(), 0);
  TestArchive a;
  a.header.archiveFlags = kCompressedFlag;
  a.folders = {{.name = "d", .files = {{.name = "corrupt.nif", .payload = corrupt},
                                       {.name = "small.nif", .payload = tooSmall},
                                       {.name = "short.nif", .payload = bytesOf("\x01\x00")},
                                       {.name = "larger.nif", .payload = larger},
                                       {.name = "zero.nif", .payload = zeroSize},
                                       {.name = "good.nif", .payload = good}}}};
  ScratchDir dir;
  Bytes archive = buildArchive(a);
  auto r = recordsOf(archive)[0];
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out,
            fileLine(r[0], "data\\d\\corrupt.nif") + errorLine("Error unpack at %8x %s\n", r[0], "data\\d\\corrupt.nif") +
                fileLine(r[1], "data\\d\\small.nif") + errorLine("Error unpack at %8x %s\n", r[1], "data\\d\\small.nif") +
                fileLine(r[2], "data\\d\\short.nif") + errorLine("Error unpack at %8x %s\n", r[2], "data\\d\\short.nif") +
                fileLine(r[3], "data\\d\\larger.nif") + fileLine(r[4], "data\\d\\zero.nif") +
                fileLine(r[5], "data\\d\\good.nif"));
  EXPECT_EQ(run.tree, (Tree{{"d/", ""}, {"d/larger.nif", "abc"}, {"d/zero.nif", ""}, {"d/good.nif", "fine"}}));
}

TEST(Extraction, StoredPayloadThatLooksPackedIsWrittenAndFlagged) {
  Bytes looksPacked = bytesOf(std::string("\x10\x00\x00\x00\x78\x9c rest", 11));
  Bytes otherHeader = bytesOf(std::string("\x10\x00\x00\x00\x78\xda rest", 11));
  TestArchive a;
  a.folders = {{.name = "s", .files = {{.name = "p.kf", .payload = looksPacked},
                                       {.name = "q.kf", .payload = otherHeader},
                                       {.name = "five.kf", .payload = bytesOf("abcdx")}}}};
  ScratchDir dir;
  Bytes archive = buildArchive(a);
  auto r = recordsOf(archive)[0];
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out, fileLine(r[0], "data\\s\\p.kf") +
                                errorLine("Error: possibly packed at %8x %s\n", r[0], "data\\s\\p.kf") +
                                fileLine(r[1], "data\\s\\q.kf") + fileLine(r[2], "data\\s\\five.kf"));
  EXPECT_EQ(run.tree.at("s/p.kf"), text(looksPacked));
  EXPECT_EQ(run.tree.at("s/q.kf"), text(otherHeader));
}

TEST(Extraction, LargeStoredPayloadsAreCheckedAndCopiedWhole) {
  // Large enough to go from the archive to the file without passing through a buffer.
  Bytes looksPacked(600 * 1024), plain(700 * 1024);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 13 + (i >> 9));
  std::copy_n(plain.begin(), looksPacked.size(), looksPacked.begin());
  looksPacked[4] = 0x78;
  looksPacked[5] = 0x9C;
  TestArchive a;
  a.folders = {{.name = "big", .files = {{.name = "packed.dds", .payload = looksPacked},
                                         {.name = "plain.dds", .payload = plain},
                                         {.name = "cut.dds", .payload = plain}}}};
  Bytes archive = buildArchive(a);
  archive.resize(archive.size() - 1);  // the last payload loses its last byte
  auto r = recordsOf(archive)[0];
  ScratchDir dir;
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out,
            fileLine(r[0], "data\\big\\packed.dds") +
                errorLine("Error: possibly packed at %8x %s\n", r[0], "data\\big\\packed.dds") +
                fileLine(r[1], "data\\big\\plain.dds") + fileLine(r[2], "data\\big\\cut.dds") +
                errorLine("Error: truncated payload at %8x %s\n", r[2], "data\\big\\cut.dds"));
  EXPECT_EQ(run.tree, (Tree{{"big/", ""}, {"big/packed.dds", text(looksPacked)}, {"big/plain.dds", text(plain)}}));
}

TEST(Extraction, TruncatedPayloadsWriteNothing) {
  Bytes archive;
  TestArchive a;
  a.folders = {{.name = "t", .files = {{.name = "past.nif", .payload = bytesOf("xyz")},
                                       {.name = "wrap.nif", .size = 0x20, .offset = 0xFFFFFFF0u},
                                       {.name = "ok.nif", .payload = bytesOf("ok")}}}};
  a.folders[0].files[0].size = 100;  // claims more than the archive holds after it
  archive = buildArchive(a);
  auto r = recordsOf(archive)[0];
  ScratchDir dir;
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out,
            fileLine(r[0], "data\\t\\past.nif") + errorLine("Error: truncated payload at %8x %s\n", r[0], "data\\t\\past.nif") +
                fileLine(r[1], "data\\t\\wrap.nif") + errorLine("Error: truncated payload at %8x %s\n", r[1], "data\\t\\wrap.nif") +
                fileLine(r[2], "data\\t\\ok.nif"));
  EXPECT_EQ(run.tree, (Tree{{"t/", ""}, {"t/ok.nif", "ok"}}));
}

TEST(Extraction, DotDotComponentsAreRefusedBeforeAnythingElse) {
  TestArchive a;
  a.folders = {{.name = "..\\..", .files = {{.name = "escape.nif", .payload = bytesOf("x")}}},
               {.name = "ok", .files = {{.name = "../../up.kf", .payload = bytesOf("y"), .size = 999}}},
               {.name = "a/../b", .files = {{.name = "c.dds", .payload = bytesOf("z")}}},
               {.name = "..dots", .files = {{.name = "..name..", .payload = bytesOf("fine")}}}};
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "work").c_str(), 0755), 0);
  Bytes archive = buildArchive(a);
  writeFile(dir / "work/a.vrk", archive);
  auto r = recordsOf(archive);
  ProcessResult result = runOxtrel({"a.vrk"}, dir / "work");
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out,
            fileLine(r[0][0], "data\\..\\..\\escape.nif") +
                errorLine("Error: unsafe path at %8x %s\n", r[0][0], "data\\..\\..\\escape.nif") +
                fileLine(r[1][0], "data\\ok\\../../up.kf") +
                errorLine("Error: unsafe path at %8x %s\n", r[1][0], "data\\ok\\../../up.kf") +
                fileLine(r[2][0], "data\\a/../b\\c.dds") +
                errorLine("Error: unsafe path at %8x %s\n", r[2][0], "data\\a/../b\\c.dds") +
                fileLine(r[3][0], "data\\..dots\\..name.."));
  Tree everything = snapshotTree(dir.path);
  EXPECT_EQ(everything, (Tree{{"work/", ""}, {"work/a.vrk", text(archive)}, {"work/data/", ""},
                              {"work/data/..dots/", ""}, {"work/data/..dots/..name..", "fine"}}));
}

TEST(Extraction, SymbolicLinksBelowDataAreNeverFollowed) {
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "outside").c_str(), 0755), 0);
  writeFile(dir / "outside/victim.nif", bytesOf("untouched"));
  ASSERT_EQ(mkdir((dir / "data").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "data/real").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../outside", (dir / "data/evil").c_str()), 0);
  ASSERT_EQ(symlink("../../outside/victim.nif", (dir / "data/real/final.nif").c_str()), 0);
  ASSERT_EQ(symlink("real", (dir / "data/inner").c_str()), 0);  // stays below data, still refused
  TestArchive a;
  a.folders = {{.name = "evil", .files = {{.name = "victim.nif", .payload = bytesOf("overwritten")}}},
               {.name = "evil\\deeper", .files = {{.name = "new.nif", .payload = bytesOf("new")}}},
               {.name = "real", .files = {{.name = "final.nif", .payload = bytesOf("replaced")}}},
               {.name = "inner", .files = {{.name = "through.nif", .payload = bytesOf("through")}}}};
  Bytes archive = buildArchive(a);
  auto r = recordsOf(archive);
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out,
            fileLine(r[0][0], "data\\evil\\victim.nif") +
                errorLine("Error: unsafe path at %8x %s\n", r[0][0], "data\\evil\\victim.nif") +
                fileLine(r[1][0], "data\\evil\\deeper\\new.nif") +
                errorLine("Error: unsafe path at %8x %s\n", r[1][0], "data\\evil\\deeper\\new.nif") +
                fileLine(r[2][0], "data\\real\\final.nif") + fileLine(r[3][0], "data\\inner\\through.nif") +
                errorLine("Error: unsafe path at %8x %s\n", r[3][0], "data\\inner\\through.nif"));
  EXPECT_EQ(snapshotTree(dir / "outside"), (Tree{{"victim.nif", "untouched"}}));
  EXPECT_EQ(run.tree, (Tree{{"evil", "-> ../outside"}, {"inner", "-> real"}, {"real/", ""},
                            {"real/final.nif", "replaced"}}));
}

TEST(Extraction, DataMayItselfBeALink) {
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "elsewhere").c_str(), 0755), 0);
  ASSERT_EQ(symlink("elsewhere", (dir / "data").c_str()), 0);
  TestArchive a;
  a.folders = {{.name = "f", .files = {{.name = "g.kf", .payload = bytesOf("via link")}}}};
  Outcome run = extract(dir, buildArchive(a));
  EXPECT_EQ(run.result.exitStatus, 0);
  EXPECT_EQ(snapshotTree(dir / "elsewhere"), (Tree{{"f/", ""}, {"f/g.kf", "via link"}}));
}

TEST(Extraction, ExistingTreesAreUpdatedInPlace) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "data/keep");
  writeFile(dir / "data/keep/old.nif", bytesOf("a much longer old content"));
  writeFile(dir / "data/keep/other.nif", bytesOf("left alone"));
  TestArchive a;
  a.folders = {{.name = "keep", .files = {{.name = "old.nif", .payload = bytesOf("new")}}},
               {.name = "keep/sub\\subsub", .files = {{.name = "n.kf", .payload = bytesOf("n")}}}};
  Outcome run = extract(dir, buildArchive(a));
  EXPECT_EQ(run.result.exitStatus, 0);
  EXPECT_EQ(run.tree, (Tree{{"keep/", ""}, {"keep/old.nif", "new"}, {"keep/other.nif", "left alone"},
                            {"keep/sub/", ""}, {"keep/sub/subsub/", ""}, {"keep/sub/subsub/n.kf", "n"}}));
}

TEST(Extraction, WriteFailuresAreReportedWithTheirReason) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "data/dir.nif");
  writeFile(dir / "data/blocker", bytesOf("a file where a directory is needed"));
  TestArchive a;
  a.folders = {{.name = "blocker", .files = {{.name = "x.nif", .payload = bytesOf("x")}}},
               {.name = "", .files = {{.name = "dir.nif", .payload = bytesOf("y")}}},
               {.name = "trailing", .files = {{.name = "", .payload = bytesOf("z")}}}};
  Bytes archive = buildArchive(a);
  auto r = recordsOf(archive);
  Outcome run = extract(dir, archive);
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out, fileLine(r[0][0], "data\\blocker\\x.nif") +
                                "Error: cannot write data\\blocker\\x.nif: Not a directory\n" +
                                fileLine(r[1][0], "data\\\\dir.nif") +
                                "Error: cannot write data\\\\dir.nif: Is a directory\n" +
                                fileLine(r[2][0], "data\\trailing\\") +
                                "Error: cannot write data\\trailing\\: Is a directory\n");
  for (const auto& [path, content] : run.tree) EXPECT_EQ(path.find(".oxtrel-"), std::string::npos) << path;
}

TEST(Extraction, AFailedWriteKeepsTheOldFileWhole) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "data/big");
  writeFile(dir / "data/big/file.dds", bytesOf("previous contents"));
  Bytes big(256 * 1024, 'B');
  TestArchive a;
  a.folders = {{.name = "big", .files = {{.name = "file.dds", .payload = big}}}};
  Bytes archive = buildArchive(a);
  auto r = recordsOf(archive);
  Outcome run = extract(dir, archive, [] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100 * 1024, 100 * 1024};  // larger than the archive's tables, smaller than the file
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  EXPECT_EQ(run.result.exitStatus, 1);
  EXPECT_EQ(run.result.out, fileLine(r[0][0], "data\\big\\file.dds") +
                                "Error: cannot write data\\big\\file.dds: File too large\n");
  EXPECT_EQ(run.tree, (Tree{{"big/", ""}, {"big/file.dds", "previous contents"}}));
}

TEST(Extraction, NamesAtTheFileSystemLimitAreWritten) {
  std::string longName(251, 'n');
  longName += ".nif";
  ASSERT_EQ(longName.size(), 255u);
  TestArchive a;
  a.folders = {{.name = "long", .files = {{.name = longName, .payload = bytesOf("L")}}}};
  ScratchDir dir;
  Outcome run = extract(dir, buildArchive(a));
  EXPECT_EQ(run.result.exitStatus, 0);
  EXPECT_EQ(run.tree, (Tree{{"long/", ""}, {"long/" + longName, "L"}}));
}

TEST(Extraction, PayloadsBeyondTwoGibibytesAreRead) {
  // A sparse archive: the payload sits at 3 GiB, the gap costs no disk.
  TestArchive a;
  const uint32_t far = 3u << 30;
  a.folders = {{.name = "far", .files = {{.name = "away.wav", .size = 5, .offset = far}}}};
  Bytes tables = buildArchive(a);
  ScratchDir dir;
  writeFile(dir / "a.vrk", tables);
  {
    FILE* f = std::fopen((dir / "a.vrk").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, off_t(far), SEEK_SET), 0);
    std::fputs("FAR!!", f);
    std::fclose(f);
  }
  ProcessResult result = runOxtrel({"a.vrk"}, dir.path);
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(result.out, "c0000000        5 data\\far\\away.wav\n");
  EXPECT_EQ(snapshotTree(dir / "data"), (Tree{{"far/", ""}, {"far/away.wav", "FAR!!"}}));
}

TEST(Extraction, RunningOutOfMemoryExits3AndKeepsWhatWasWritten) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#endif
  // A 1.5 GiB compressed payload announcing 4 GiB, in a sparse archive, extracted under a
  // 256 MiB address-space limit: read whole (the threshold raised past it), it cannot fit.
  TestArchive a;
  a.header.archiveFlags = kCompressedFlag;
  const uint32_t hugeSize = 3u << 29;
  a.folders = {{.name = "m", .files = {{.name = "small.nif", .payload = compressedPayload(bytesOf("s"))},
                                       {.name = "huge.nif", .size = hugeSize, .offset = 1u << 20}}}};
  ScratchDir dir;
  writeFile(dir / "a.vrk", buildArchive(a));
  ASSERT_EQ(truncate((dir / "a.vrk").c_str(), off_t(1u << 20) + hugeSize), 0);
  {
    FILE* f = std::fopen((dir / "a.vrk").c_str(), "r+b");
    ASSERT_EQ(fseeko(f, off_t(1u << 20), SEEK_SET), 0);
    std::fwrite("\xf0\xff\xff\xff", 1, 4, f);
    std::fclose(f);
  }
  // On one thread and on several: the lines so far stay, in order, and nothing partial is left.
  for (const char* jobs : {"1", "3"}) {
    std::filesystem::remove_all(dir / "data");
    ProcessResult r = runOxtrel({"-j", jobs, "a.vrk"}, dir.path, [] {
      rlimit limit{256u << 20, 256u << 20};
      setrlimit(RLIMIT_AS, &limit);
      setenv("OXTREL_STREAMING_THRESHOLD", "4294967296", 1);
    });
    EXPECT_EQ(r.exitStatus, 3) << jobs;
    EXPECT_EQ(r.err, "Error: out of memory\n") << jobs;
    size_t small = r.out.find(" data\\m\\small.nif\n");
    size_t huge = r.out.find(" data\\m\\huge.nif\n");
    EXPECT_TRUE(small != std::string::npos && huge != std::string::npos && small < huge) << jobs << ": " << r.out;
    EXPECT_TRUE(r.out.ends_with(" data\\m\\huge.nif\n")) << jobs << ": " << r.out;
    EXPECT_EQ(snapshotTree(dir / "data"), (Tree{{"m/", ""}, {"m/small.nif", "s"}})) << jobs;

    // Streamed, as a payload that large is by default, it fits, and its fault is found.
    std::filesystem::remove_all(dir / "data");
    r = runOxtrel({"-j", jobs, "a.vrk"}, dir.path, [] {
      rlimit limit{256u << 20, 256u << 20};
      setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(r.exitStatus, 1) << jobs;
    EXPECT_EQ(r.err, "") << jobs;
    EXPECT_NE(r.out.find("\nError unpack at"), std::string::npos) << jobs << ": " << r.out;
    EXPECT_TRUE(r.out.ends_with(" data\\m\\huge.nif\n")) << jobs << ": " << r.out;
    EXPECT_EQ(snapshotTree(dir / "data"), (Tree{{"m/", ""}, {"m/small.nif", "s"}})) << jobs;
  }
}

TEST(Extraction, AHugeSparseNameBlockCostsNeitherMemoryNorTime) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#endif
  // 256 MiB of NULs (a hole on disk) before the one name a record asks for, with a name count
  // that lets every NUL count as a name, extracted under a 128 MiB address-space limit.
  const uint32_t hole = 1u << 28;
  TestArchive a;
  a.folders = {{.name = "m", .files = {{.name = "x.nif", .size = 1}}}};
  a.fileCount = 0xFFFFFFFF;
  a.nameBlock = Bytes{};
  a.totalNameLength = hole + 6;
  Bytes tables = buildArchive(a);
  const uint32_t payloadAt = uint32_t(tables.size()) + hole + 6;
  a.folders[0].files[0].offset = payloadAt;
  tables = buildArchive(a);
  ScratchDir dir;
  writeFile(dir / "a.vrk", tables);
  {
    FILE* f = std::fopen((dir / "a.vrk").c_str(), "r+b");
    ASSERT_EQ(fseeko(f, off_t(payloadAt - 6), SEEK_SET), 0);
    std::fwrite("x.nif\0X", 1, 7, f);
    std::fclose(f);
  }
  auto start = std::chrono::steady_clock::now();
  ProcessResult r = runOxtrel({"a.vrk"}, dir.path, [] {
    rlimit limit{128u << 20, 128u << 20};
    setrlimit(RLIMIT_AS, &limit);
  });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_EQ(r.out, line("%8x %8x %s\n", payloadAt, 1, "data\\m\\x.nif"));
  EXPECT_EQ(snapshotTree(dir / "data"), (Tree{{"m/", ""}, {"m/x.nif", "X"}}));
}

TEST(Extraction, APathThatReachesPathMaxIsRefusedBeforeAnythingIsMade) {
  // "data\m\" and a name of 50-byte components: the first path is one byte short of PATH_MAX
  // with its NUL, the second reaches it.
  std::string fits;
  while (fits.size() + 51 < 4095 - 7) fits += std::string(50, 'd') + "\\";
  fits += std::string(4095 - 7 - fits.size(), 'f');
  std::string tooLong = "x" + fits;
  TestArchive a;
  a.folders = {{.name = "m", .files = {{.name = tooLong, .payload = bytesOf("long")}, {.name = fits, .payload = bytesOf("fits")}}}};
  ScratchDir dir;
  Outcome run = extract(dir, buildArchive(a));
  std::vector<std::vector<FileRecord>> records = recordsOf(buildArchive(a));
  EXPECT_EQ(run.result.exitStatus, 1);
  // Compared without the long paths, which would drown a failure's report.
  std::string expected = line("%8x %8x %s\n", records[0][0].offset, 4, "<long>") + "Error: cannot write <long>: File name too long\n" +
                         line("%8x %8x %s\n", records[0][1].offset, 4, "<fits>");
  std::string out = run.result.out;
  for (std::string path : {"data\\m\\" + tooLong, "data\\m\\" + fits})
    for (size_t at; (at = out.find(path)) != std::string::npos;) out.replace(at, path.size(), path.size() > 4095 ? "<long>" : "<fits>");
  EXPECT_EQ(out, expected);
  std::string written = "m/" + fits;
  std::replace(written.begin(), written.end(), '\\', '/');
  EXPECT_EQ(run.tree.count(written), 1u);
  EXPECT_EQ(run.tree.count("m/x" + std::string(50, 'd') + "/"), 0u);
}

// A dead run's temporary as that run would have left it: marked with its own name.
void plantTemporary(const std::string& path, const std::string& markedAs) {
  writeFile(path, bytesOf("left"));
  platform::File file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(platform::markTemporary(file.get(), markedAs), 0) << path;
}

TEST(Extraction, OnlyMarkedTemporariesOfRunsThatAreGoneAreRemovedWhereARunWrites) {
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = ".oxtrel-" + std::to_string(gone) + "-3.tmp";
  const std::string alsoDead = ".oxtrel-" + std::to_string(gone) + "-4.tmp";
  const std::string alive = ".oxtrel-" + std::to_string(getpid()) + "-0.tmp";
  struct Planted {
    std::string path;
    std::string markedAs;  // empty: a real file, never marked
    bool removed;
  };
  const Planted planted[] = {
      {"m/" + dead, dead, true},
      {"m/" + alsoDead, "", false},       // a real file with a temporary's name
      {"m/.oxtrel-4000000-7.tmp", "", false},
      {"m/.oxtrel-4000000-8.tmp", ".oxtrel-4000000-9.tmp", false},  // marked under another name
      {"m/" + alive, alive, false},       // its run is alive
      {"m/" + dead + "~", dead + "~", false},
      {"m/.oxtrel-" + std::to_string(gone) + ".tmp", ".oxtrel-" + std::to_string(gone) + ".tmp", false},
      {"other/" + dead, dead, false},     // nothing is written there
  };
  ScratchDir dir;
  Tree expected{{"m/", ""}, {"m/f.nif", "F"}, {"other/", ""}};
  for (const Planted& p : planted) {
    std::filesystem::create_directories(std::filesystem::path(dir / "data/" + p.path).parent_path());
    if (p.markedAs.empty())
      writeFile(dir / "data/" + p.path, bytesOf("left"));
    else
      plantTemporary(dir / "data/" + p.path, p.markedAs);
    if (!p.removed) expected[p.path] = "left";
  }
  TestArchive a;
  a.folders = {{.name = "m", .files = {{.name = "f.nif", .payload = bytesOf("F")}}}};
  Outcome run = extract(dir, buildArchive(a));
  EXPECT_EQ(run.result.exitStatus, 0);
  EXPECT_EQ(run.tree, expected);
}

TEST(Extraction, AnEntryNamedLikeATemporarySurvivesEverySweep) {
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  // Folder "x\." reaches x again under another key, so x is swept a second time after the
  // entries are written; at -j 4 other threads sweep x while they are.
  const std::vector<std::string> lookalikes = {".oxtrel-4000000-7.tmp", ".oxtrel-" + std::to_string(gone) + "-1.tmp"};
  TestArchive a;
  Tree expected{{"x/", ""}};
  int folders = 0;
  for (const char* folder : {"x", "x\\.", "y", "x\\.\\.", "z"}) {
    TestFolder f{.name = folder};
    const std::string top(folder, 1);
    ++folders;
    for (int i = 0; i < 8; ++i) {
      std::string name = std::to_string(folders) + "-" + std::to_string(i) + ".nif";
      f.files.push_back({.name = name, .payload = bytesOf(name)});
      expected[top + "/"] = "";
      expected[top + "/" + name] = name;
    }
    if (folder == std::string("x"))
      for (const std::string& name : lookalikes) {
        f.files.push_back({.name = name, .payload = bytesOf("real")});
        expected["x/" + name] = "real";
      }
    a.folders.push_back(f);
  }
  Bytes bytes = buildArchive(a);
  for (const char* jobs : {"1", "4"}) {
    for (int round = 0; round < 5; ++round) {
      ScratchDir dir;
      writeFile(dir / "a.vrk", bytes);
      ProcessResult r = runOxtrel({"-j", jobs, "a.vrk"}, dir.path);
      EXPECT_EQ(r.exitStatus, 0) << r.out;
      ASSERT_EQ(snapshotTree(dir / "data"), expected) << "-j " << jobs << ", round " << round;
    }
  }
}

}  // namespace
}  // namespace oxtrel
