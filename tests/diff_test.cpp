// Comparing two archives: a table of archive pairs with the changes each must give (or the entry
// it must fail on), the path order against Entry::path sorted, and the command line's statuses.

#include <oxtrel/oxtrel.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>

#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

// Bytes that compress somewhat, different for each seed; large ones cross the comparison's pieces.
Bytes contents(size_t size, uint32_t seed) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(random() % 16 + 'a');
  return bytes;
}

Bytes withByte(Bytes bytes, size_t at, uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

Bytes deflated(const Bytes& plain, int level, std::optional<uint32_t> announced = std::nullopt) {
  uLongf length = compressBound(uLong(plain.size()));
  Bytes out(kUnpackedSizeBytes + length);
  EXPECT_EQ(compress2(out.data() + kUnpackedSizeBytes, &length, plain.data(), uLong(plain.size()), level), Z_OK);
  out.resize(kUnpackedSizeBytes + length);
  storeLe32(out.data(), announced.value_or(uint32_t(plain.size())));
  return out;
}

// One folder per path prefix, files as given, payloads stored or deflated at level.
struct Shape {
  bool compressed = false;
  int level = 6;
  std::vector<std::pair<std::string, std::vector<TestFile>>> folders;
};

Bytes build(const Shape& shape) {
  TestArchive archive;
  if (shape.compressed) archive.header.archiveFlags = kCompressedFlag;
  for (const auto& [name, files] : shape.folders) {
    TestFolder folder{.name = name};
    for (TestFile file : files) {
      if (shape.compressed && !file.size) file.payload = deflated(file.payload, shape.level);
      folder.files.push_back(file);
    }
    archive.folders.push_back(folder);
  }
  return buildArchive(archive);
}

TestFile file(std::string name, Bytes payload) { return {.name = std::move(name), .payload = std::move(payload)}; }

// A payload stored as given even in a compressed archive (its size is set, so build keeps it).
TestFile raw(std::string name, Bytes payload) {
  uint32_t size = uint32_t(payload.size());
  return {.name = std::move(name), .payload = std::move(payload), .size = size};
}

std::string describe(const std::vector<ArchiveChange>& changes) {
  std::string text;
  for (const ArchiveChange& c : changes) text += std::string(1, char(c.kind)) + " " + c.path + "\n";
  return text;
}

TEST(Diff, ArchivePairsGiveTheirChangesOrTheEntryThatCannotBeCompared) {
  const Bytes big = contents(1'500'000, 1);  // more than one comparison piece
  const Bytes small = bytesOf("hello");
  Bytes damaged = deflated(big, 6);
  damaged[damaged.size() / 2] ^= 0x55;
  Bytes damagedTail = deflated(withByte(big, 10, 'Z'), 6);
  damagedTail[damagedTail.size() - 2] ^= 1;  // the checksum: only the end of the stream tells
  TestFile outside{.name = "x.dds", .payload = {}, .size = 100, .offset = 1u << 30};
  // No name in the block has this hash: the record is unnamed.
  TestFile unnamed{.name = "ghost", .payload = small, .hash = NameHash{1, 2, 3, 4, 5, 6, 7, 8}};
  struct Case {
    const char* label;
    Shape older, newer;
    std::string changes;           // "K path\n" lines
    std::string error = {};        // else: the error's message, up to the archive's path
    uint64_t unnamedOld = 0;
  };
  const std::vector<Case> cases = {
      {"same stored", {false, 6, {{"a", {file("x.dds", big), file("y", small)}}}},
       {false, 6, {{"a", {file("x.dds", big), file("y", small)}}}}, ""},
      {"added and removed", {false, 6, {{"a", {file("x", small), file("y", small)}}}},
       {false, 6, {{"a", {file("y", small), file("z", small)}}}}, "D a/x\nA a/z\n"},
      {"modified stored, same size, last piece", {false, 6, {{"a", {file("x", big)}}}},
       {false, 6, {{"a", {file("x", withByte(big, big.size() - 1, 'Z'))}}}}, "M a/x\n"},
      {"modified stored, other size", {false, 6, {{"a", {file("x", small)}}}},
       {false, 6, {{"a", {file("x", bytesOf("hello!"))}}}}, "M a/x\n"},
      {"moved to other offsets and folders' order", {false, 6, {{"a", {file("x", big)}}, {"b", {file("y", small)}}}},
       {false, 6, {{"b", {file("y", small)}}, {"a", {file("x", big)}}}}, ""},
      {"modified compressed, same stored size", {true, 0, {{"a", {file("x", big)}}}},
       {true, 0, {{"a", {file("x", withByte(big, 1'200'000, 'Z'))}}}}, "M a/x\n"},
      {"compressed again at another level", {true, 1, {{"a", {file("x", big), file("y", small)}}}},
       {true, 9, {{"a", {file("x", big), file("y", small)}}}}, ""},
      {"compressed against stored, same files", {true, 6, {{"a", {file("x", big), file("y", small)}}}},
       {false, 6, {{"a", {file("x", big), file("y", small)}}}}, ""},
      {"stored against compressed, one longer", {false, 6, {{"a", {file("x", big)}}}},
       {true, 6, {{"a", {file("x", contents(1'500'001, 1))}}}}, "M a/x\n"},
      // Extraction would write the shorter contents; a streaming reader holds a payload to the size
      // it announces, so the comparison cannot vouch for it.
      {"announced size larger than the stream gives", {true, 6, {{"a", {raw("x", deflated(big, 6))}}}},
       {true, 6, {{"a", {raw("x", deflated(big, 6, 3'000'000))}}}}, "", "cannot unpack a/x in "},
      {"unnamed records take no part", {false, 6, {{"a", {file("x", small), unnamed}}}},
       {false, 6, {{"a", {file("x", small)}}}}, "", "", 1},
      {"the last record of a path stands for it",
       {false, 6, {{"a\\b", {file("x", bytesOf("first"))}}, {"a/b", {file("x", small)}}}},
       {false, 6, {{"a", {file("b\\x", small)}}}}, ""},
      {"an earlier duplicate does not", {false, 6, {{"a", {file("x", small), file("x", bytesOf("later"))}}}},
       {false, 6, {{"a", {file("x", small)}}}}, "M a/x\n"},
      {"byte order of whole paths, case kept apart",
       {false, 6, {{"a", {file("z", small), file("A.dds", small)}}, {"", {file("\xc3\xa9", small)}}}},
       {false, 6, {{"a-b", {file("x", small)}}, {"a", {file("a.dds", small), file("z", small)}}}},
       "A a-b/x\nD a/A.dds\nA a/a.dds\nD \xc3\xa9\n"},
      {"damaged stream that must be decoded", {true, 6, {{"a", {file("x", big)}}}},
       {true, 6, {{"a", {raw("x", damaged)}}}}, "", "cannot unpack a/x in "},
      {"damage found past the first difference", {true, 6, {{"a", {file("x", big)}}}},
       {true, 6, {{"a", {raw("x", damagedTail)}}}}, "", "cannot unpack a/x in "},
      {"equal damaged bytes are not decoded", {true, 6, {{"a", {raw("x", damaged)}}}},
       {true, 6, {{"a", {raw("x", damaged)}}}}, ""},
      {"payload outside the archive", {false, 6, {{"a", {file("x.dds", small)}}}},
       {false, 6, {{"a", {outside}}}}, "", "truncated a/x.dds in "},
      {"an added entry is not read", {false, 6, {{"b", {file("y", small)}}}},
       {false, 6, {{"a", {outside}}, {"b", {file("y", small)}}}}, "A a/x.dds\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    writeFile(dir / "old.vrk", build(c.older));
    writeFile(dir / "new.vrk", build(c.newer));
    Result<Archive> older = openArchive(dir / "old.vrk");
    Result<Archive> newer = openArchive(dir / "new.vrk");
    ASSERT_TRUE(older && newer) << c.label;
    std::vector<ArchiveChange> seen;
    Result<DiffSummary> summary =
        diffArchives(*older, *newer, {}, [&](const ArchiveChange& change) { seen.push_back(change); });
    if (!c.error.empty()) {
      ASSERT_FALSE(summary.ok()) << c.label;
      EXPECT_EQ(message(summary.error()), c.error + (dir / "new.vrk")) << c.label;
      continue;
    }
    ASSERT_TRUE(summary.ok()) << c.label << ": " << message(summary.error());
    EXPECT_EQ(describe(seen), c.changes) << c.label;
    EXPECT_EQ(summary->changes, seen.size()) << c.label;
    EXPECT_EQ(summary->unnamedOld, c.unnamedOld) << c.label;
    // The other way round every A is a D and every D an A, M stays; and an archive equals itself.
    Result<std::vector<ArchiveChange>> reverse = diffArchives(*newer, *older);
    ASSERT_TRUE(reverse.ok()) << c.label;
    for (ArchiveChange& change : *reverse)
      if (change.kind != ChangeKind::modified)
        change.kind = change.kind == ChangeKind::added ? ChangeKind::removed : ChangeKind::added;
    EXPECT_EQ(describe(*reverse), c.changes) << c.label << " (reversed)";
    Result<std::vector<ArchiveChange>> itself = diffArchives(*older, *older);
    ASSERT_TRUE(itself.ok()) << c.label;
    EXPECT_TRUE(itself->empty()) << c.label;
  }
}

// Paths are ordered without being composed: the order must be Entry::path's byte order, with one
// path for each set of records sharing it.
TEST(Diff, AddedPathsComeInTheByteOrderOfEntryPaths) {
  std::mt19937 random(7);
  const std::string alphabet = "aAb/\\-._\x7f\xc3\xa9";
  auto text = [&](size_t most) {
    std::string s(1 + random() % most, 'a');
    for (char& ch : s) ch = alphabet[random() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 20; ++round) {
    Shape shape;
    for (int f = 0; f < 6; ++f) {
      std::vector<TestFile> files;
      for (int n = 0; n < 8; ++n) files.push_back(file(text(4), {}));
      shape.folders.push_back({f == 0 ? "" : text(3), files});
    }
    ScratchDir dir;
    writeFile(dir / "a.vrk", build(shape));
    writeFile(dir / "empty.vrk", build({}));
    Result<Archive> archive = openArchive(dir / "a.vrk");
    Result<Archive> empty = openArchive(dir / "empty.vrk");
    ASSERT_TRUE(archive && empty);
    std::vector<std::string> expected;
    for (const Entry& entry : entries(*archive))
      if (entry.name) expected.push_back(entry.path);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    Result<std::vector<ArchiveChange>> changes = diffArchives(*empty, *archive);
    ASSERT_TRUE(changes.ok());
    std::vector<std::string> paths;
    for (const ArchiveChange& change : *changes) paths.push_back(change.path);
    EXPECT_EQ(paths, expected) << "round " << round;
  }
}

TEST(Diff, CommandLinePrintsChangesAndExitsByWhetherTheFilesAreTheSame) {
  ScratchDir dir;
  const Bytes big = contents(300'000, 2);
  writeFile(dir / "old.vrk", build({true, 6, {{"a", {file("x", big), file("y", bytesOf("y"))}},
                                              {"b", {file("\x01.dds", bytesOf("c"))}}}}));
  writeFile(dir / "same.vrk", build({false, 6, {{"a", {file("x", big), file("y", bytesOf("y"))}},
                                               {"b", {file("\x01.dds", bytesOf("c"))}}}}));
  writeFile(dir / "new.vrk", build({true, 1, {{"a", {file("x", withByte(big, 5, 'Z')), file("z\xff", bytesOf("z"))}},
                                              {"b", {file("\x01.dds", bytesOf("C"))}}}}));
  Bytes damaged = build({true, 6, {{"a", {file("x", withByte(big, 5, 'Z'))}}}});
  damaged[damaged.size() - 100] ^= 0x10;
  writeFile(dir / "damaged.vrk", damaged);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  };
  const std::vector<Case> cases = {
      {{"--diff", "old.vrk", "same.vrk"}, 0, "", ""},
      {{"--diff", "old.vrk", "new.vrk"}, 1, "M a/x\nD a/y\nA a/z\xff\nM b/\\x01.dds\n", ""},
      {{"old.vrk", "new.vrk", "--diff"}, 1, "M a/x\nD a/y\nA a/z\xff\nM b/\\x01.dds\n", ""},
      {{"--diff", "new.vrk", "old.vrk", "a/y", "b/\x01.dds"}, 1, "A a/y\nM b/\\x01.dds\n", ""},
      {{"--diff", "old.vrk", "new.vrk", "-x", "a/x"}, 1, "D a/y\nA a/z\xff\nM b/\\x01.dds\n", ""},
      {{"--diff", "old.vrk", "new.vrk", "a/x", "nothing"}, 1, "M a/x\n", "Error: no entry matches nothing\n"},
      {{"--diff", "old.vrk", "damaged.vrk"}, 1, "", "Error: cannot unpack a/x in damaged.vrk\n"},
      {{"--diff", "old.vrk", "missing.vrk"}, 1, "", "cannot open missing.vrk\n"},
      {{"--diff", "old.vrk"}, 2, "", "oxtrel: --diff needs two archives\n"},
      {{"--diff", "-t", "old.vrk", "new.vrk"}, 2, "", "oxtrel: --diff and --test cannot go together\n"},
      {{"--diff", "-C", "x", "old.vrk", "new.vrk"}, 2, "", "oxtrel: --diff and --directory cannot go together\n"},
      {{"-l", "--diff", "old.vrk", "new.vrk"}, 2, "", "oxtrel: --diff and --list cannot go together\n"},
  };
  for (const Case& c : cases) {
    std::string label = ::testing::PrintToString(c.args);
    ProcessResult r = runOxtrel(c.args, dir.path);
    EXPECT_EQ(r.exitStatus, c.status) << label;
    EXPECT_EQ(r.out, c.out) << label;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.err) << label << ": " << r.err;
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);  // nothing extracted

  // JSON: one valid object per change and nothing else; a path that is not UTF-8 comes in hex too.
  ProcessResult json = runOxtrel({"--diff", "--json", "old.vrk", "new.vrk"}, dir.path);
  EXPECT_EQ(json.exitStatus, 1);
  std::vector<nlohmann::json> objects;
  for (size_t start = 0, end; (end = json.out.find('\n', start)) != std::string::npos; start = end + 1)
    objects.push_back(nlohmann::json::parse(json.out.substr(start, end - start)));
  ASSERT_EQ(objects.size(), 4u) << json.out;
  EXPECT_EQ(objects[0], nlohmann::json({{"change", "M"}, {"path", "a/x"}}));
  EXPECT_EQ(objects[1], nlohmann::json({{"change", "D"}, {"path", "a/y"}}));
  EXPECT_EQ(objects[2]["path_hex"], "612f7aff");
  EXPECT_EQ(objects[3], nlohmann::json({{"change", "M"}, {"path", "b/\x01.dds"}}));
  EXPECT_EQ(runOxtrel({"--json", "--diff", "old.vrk", "same.vrk"}, dir.path).out, "");

  // A reader that cannot take the changes is an error, as in every mode.
  ProcessResult full =
      runOxtrel({"--diff", "old.vrk", "new.vrk"}, dir.path, [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); });
  EXPECT_EQ(full.exitStatus, 1);
  EXPECT_NE(full.err.find("oxtrel: cannot write standard output: No space left on device"), std::string::npos);
}

}  // namespace
}  // namespace oxtrel
