// The archive writer, checked on the archives it writes: layout, order, determinism, refusals.

#include "pack/pack_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "allocation_probe.h"
#include "archive_builder.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/little_endian.h"
#include "catalogue/name_hash.h"
#include "catalogue/payload_format.h"
#include "pack/payload_compression.h"
#include "pack/tree_scan.h"
#include "parallel/job_batches.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
using Tree = std::map<std::string, std::string>;

std::string failureOf(const PackReport& report) { return report.status ? "" : message(report.status.error()); }

// Reads an archive back by its layout alone, checking each promise the writer makes about
// placement and order on the way, and returns its files as "<folder>/<name>" -> contents.
Tree readBack(const std::string& path) {
  Bytes bytes = readFile(path);
  Result<PositionalFile> opened = openPositionalFile(path.c_str());
  if (!opened) {
    ADD_FAILURE() << message(opened.error());
    return {};
  }
  Result<Catalogue> loaded = loadCatalogue(*opened);
  if (!loaded) {
    ADD_FAILURE() << message(loaded.error());
    return {};
  }
  const Catalogue& c = *loaded;
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "OXTR");
  EXPECT_EQ(c.header.word4, 0u);
  EXPECT_EQ(c.header.tableOffset, kHeaderSize);
  EXPECT_EQ(c.header.archiveFlags & ~kCompressedFlag, 0u);
  EXPECT_EQ(c.header.word24, 0u);
  EXPECT_EQ(c.header.word32, 0u);

  std::vector<std::string> names;
  const auto blockBegin = bytes.begin() + ptrdiff_t(c.nameBlockOffset);
  const auto blockEnd = blockBegin + c.header.totalNameLength;
  for (auto it = blockBegin; it != blockEnd;) {
    auto nul = std::find(it, blockEnd, uint8_t(0));
    names.emplace_back(it, nul);
    it = nul + 1;
  }
  EXPECT_EQ(names.size(), c.header.fileCount);

  uint64_t blockAt = kHeaderSize + folderCount(c) * kFolderRecordSize;
  for (size_t f = 0; f < folderCount(c); ++f) blockAt += 2 + folderName(c, f).size() + folderFiles(c, f).size() * kFileRecordSize;
  EXPECT_EQ(c.nameBlockOffset, blockAt);
  uint64_t payloadAt = blockAt + c.header.totalNameLength;
  blockAt = kHeaderSize + folderCount(c) * kFolderRecordSize;

  Tree files;
  size_t k = 0;
  NameHash previousHash{};
  for (size_t f = 0; f < folderCount(c); ++f) {
    struct {
      std::string name;
      std::span<const FileRecord> files;
    } folder{std::string(folderName(c, f)), folderFiles(c, f)};
    EXPECT_EQ(folder.name.find('/'), std::string::npos) << "components are joined with '\\'";
    FolderRecord folderRecord = decodeFolderRecord(bytes.data() + kHeaderSize + f * kFolderRecordSize);
    EXPECT_EQ(folderRecord.hash, computeNameHash(folder.name, {}));
    EXPECT_EQ(folderRecord.fileCount, folder.files.size());
    EXPECT_EQ(folderRecord.blockOffset, blockAt);
    EXPECT_EQ(bytes[blockAt], folder.name.size() + 1);
    blockAt += 2 + folder.name.size() + folder.files.size() * kFileRecordSize;
    if (f > 0) {
      EXPECT_LT(std::pair(previousHash, std::string(folderName(c, f - 1))), std::pair(folderRecord.hash, folder.name));
    }
    previousHash = folderRecord.hash;

    std::string prefix = folder.name;
    std::replace(prefix.begin(), prefix.end(), '\\', '/');
    for (size_t j = 0; j < folder.files.size() && k < names.size(); ++j, ++k) {
      const FileRecord& record = folder.files[j];
      if (j > 0) {
        EXPECT_LT(folder.files[j - 1].hash, record.hash);
      }
      EXPECT_EQ(record.hash, hashFileName(names[k])) << names[k];
      EXPECT_EQ(record.offset, payloadAt) << names[k];
      payloadAt += record.size;
      std::string contents(bytes.begin() + record.offset, bytes.begin() + record.offset + record.size);
      if (isCompressed(c.header)) {
        uLongf length = loadLe32(bytes.data() + record.offset);
        std::string plain(length, '\0');
        EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(plain.data()), &length,
                             bytes.data() + record.offset + kUnpackedSizeBytes, record.size - kUnpackedSizeBytes), Z_OK);
        EXPECT_EQ(length, plain.size());
        contents = plain;
      }
      files[(prefix.empty() ? "" : prefix + "/") + names[k]] = contents;
    }
  }
  EXPECT_EQ(payloadAt, bytes.size());
  return files;
}

const Tree kSmallTree = {
    {"top.txt", "top level"},
    {"meshes/rocks/rock01.nif", "R1"},
    {"meshes/rocks/Rock02.NIF", "R22"},
    {"meshes/rocks/boulder.large.nif", std::string(3000, 'b')},
    {"sound/wind.wav", "W"},
    {"sound/empty", ""},
    {"sound/.keep", "dot first"},
};

TEST(Pack, WritesTablesThenPayloadsInHashOrder) {
  ScratchDir dir;
  writeTree(dir / "tree", kSmallTree);
  PackReport report = packDirectory(dir / "tree", dir / "a.vrk", {});
  ASSERT_EQ(failureOf(report), "");
  EXPECT_EQ(readBack(dir / "a.vrk"), kSmallTree);
  EXPECT_EQ(report.fileCount, kSmallTree.size());
  EXPECT_EQ(report.folderCount, 3u);
  EXPECT_EQ(report.bytesIn, 3000u + 9 + 2 + 3 + 1 + 9);
  EXPECT_EQ(report.bytesOut, readFile(dir / "a.vrk").size());
  EXPECT_TRUE(report.notes.empty());
  EXPECT_EQ(loadLe32(readFile(dir / "a.vrk").data() + 12), 0u);
}

TEST(Pack, CompressedPayloadsAreTheSizeThenAZlibStreamAtEveryLevel) {
  ScratchDir dir;
  writeTree(dir / "tree", kSmallTree);
  for (int level : {kMinCompressionLevel, kDefaultCompressionLevel, kMaxCompressionLevel}) {
    PackReport report = packDirectory(dir / "tree", dir / "z.vrk", {.compress = true, .level = level});
    ASSERT_EQ(failureOf(report), "") << level;
    EXPECT_EQ(loadLe32(readFile(dir / "z.vrk").data() + 12), kCompressedFlag);
    EXPECT_EQ(readBack(dir / "z.vrk"), kSmallTree) << level;
  }
}

TEST(Pack, OneTreeAlwaysGivesTheSameBytes) {
  ScratchDir dir;
  writeTree(dir / "one", kSmallTree);
  // The same tree again, its entries created in the opposite order and at another time.
  for (auto it = kSmallTree.rbegin(); it != kSmallTree.rend(); ++it) writeTree(dir / "two", {*it});
  for (bool compress : {false, true}) {
    PackOptions options{.compress = compress};
    ASSERT_FALSE(!packDirectory(dir / "one", dir / "1.vrk", options).status.ok());
    ASSERT_FALSE(!packDirectory(dir / "two", dir / "2.vrk", options).status.ok());
    ASSERT_FALSE(!packDirectory(dir / "one", dir / "3.vrk", options).status.ok());
    EXPECT_EQ(readFile(dir / "1.vrk"), readFile(dir / "2.vrk"));
    EXPECT_EQ(readFile(dir / "1.vrk"), readFile(dir / "3.vrk"));
  }
}

// Enough files of mixed sizes and contents that threads finish them out of order.
Tree manyFileTree() {
  Tree tree;
  for (int i = 0; i < 60; ++i) {
    std::string contents;
    for (int j = 0; j < (i * 977) % 20000; ++j) contents += char('a' + (i * j) % (i % 5 == 0 ? 251 : 7));
    tree["dir" + std::to_string(i % 4) + "/sub" + std::to_string(i % 3) + "/f" + std::to_string(i)] = contents;
  }
  return tree;
}

TEST(Pack, EveryJobCountWritesTheSameBytesAndReportsTheSameFirstFailure) {
  ScratchDir dir;
  const Tree tree = manyFileTree();
  writeTree(dir / "tree", tree);
  for (bool compress : {false, true}) {
    PackReport one = packDirectory(dir / "tree", dir / "one.vrk", {.compress = compress, .jobs = 1});
    ASSERT_EQ(failureOf(one), "");
    EXPECT_EQ(readBack(dir / "one.vrk"), tree);
    for (unsigned jobs : {2u, 3u, 8u}) {
      PackReport many = packDirectory(dir / "tree", dir / "many.vrk", {.compress = compress, .jobs = jobs});
      ASSERT_EQ(failureOf(many), "");
      EXPECT_EQ(readFile(dir / "many.vrk"), readFile(dir / "one.vrk")) << compress << " " << jobs;
      EXPECT_EQ(many.bytesIn, one.bytesIn);
      EXPECT_EQ(many.bytesOut, one.bytesOut);
    }
  }

  // Files that change between the scan and the write fail when the writer reaches them; only
  // the first in table order may be reported, however many threads read ahead of it.
  Result<TreeScan> scan = scanTree(dir / "tree", std::nullopt);
  ASSERT_TRUE(scan.ok());
  Result<CataloguePlan> planned = planCatalogue(scan->directories);
  ASSERT_TRUE(planned.ok());
  const CataloguePlan& plan = *planned;
  std::vector<const PlannedFile*> files;
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) files.push_back(&file);
  ASSERT_EQ(files.size(), 60u);
  const std::string vanished = files[17]->path, grown = files[31]->path, alsoVanished = files[45]->path;
  ASSERT_EQ(unlink(alsoVanished.c_str()), 0);
  ASSERT_EQ(truncate(grown.c_str(), off_t(1) << 32), 0);
  ASSERT_EQ(unlink(vanished.c_str()), 0);
  for (bool firstVanishes : {true, false}) {
    if (!firstVanishes) writeFile(vanished, {});
    const std::string expected = firstVanishes ? "cannot read '" + vanished + "': No such file or directory"
                                               : "'" + grown + "' is 4294967296 bytes, past the 4294967295 bytes an archive can hold";
    for (unsigned jobs : {1u, 2u, 3u, 8u}) {
      writeTree(dir / "out", {{"a.vrk", "the old archive"}});
      PackReport report = writeArchive(plan, {.compress = true, .jobs = jobs}, dir / "out/a.vrk");
      EXPECT_EQ(failureOf(report), expected) << jobs;
      EXPECT_EQ(snapshotTree(dir / "out"), (Tree{{"a.vrk", "the old archive"}})) << jobs;
    }
  }
}

TEST(Pack, BatchesOfFilesWriteEveryFileAndReportTheFirstFailureWhereverTheyEnd) {
  ScratchDir dir;
  Tree tree{{"large/tiny", "t"}};
  for (size_t i = 0; i < 3 * kPackBatch.items; ++i) tree["small/f" + std::to_string(i)] = std::string(i % 5, 'a');
  for (size_t i = 0; i < 3; ++i) {  // past the byte limit, alone and among small files
    std::string large(kPackBatch.bytes + 1000 * i, '\0');
    for (size_t j = 0; j < large.size(); ++j) large[j] = char((j * 7 + j / 1000) % (i + 3));
    tree["large/l" + std::to_string(i)] = large;
  }
  writeTree(dir / "tree", tree);
  Result<TreeScan> scan = scanTree(dir / "tree", std::nullopt);
  ASSERT_TRUE(scan.ok());
  Result<CataloguePlan> plan = planCatalogue(scan->directories);
  ASSERT_TRUE(plan.ok());
  std::vector<const PlannedFile*> files;
  for (const PlannedFolder& folder : plan->folders)
    for (const PlannedFile& file : folder.files) files.push_back(&file);
  std::vector<size_t> starts = batchBoundaries(files.size(), kPackBatch, [&](size_t i) { return files[i]->size; });
  size_t single = 0, full = 0;  // a batch of one large file, and the last full batch of small ones
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    if (files[starts[b]]->size > kPackBatch.bytes) single = b;
    if (starts[b + 1] - starts[b] == kPackBatch.items) full = b;
  }
  const size_t first = starts[full], last = starts[full + 1] - 1;
  ASSERT_TRUE(first > 0 && last > first + 2 && starts[single + 1] == starts[single] + 1);
  for (unsigned jobs : {1u, 3u}) {
    ASSERT_EQ(failureOf(writeArchive(*plan, {.compress = true, .jobs = jobs}, dir / "a.vrk")), "") << jobs;
    EXPECT_EQ(readBack(dir / "a.vrk"), tree) << jobs;
  }
  // Each set of files vanishes between the scan and the write; the first in table order is named.
  for (const std::set<size_t>& gone : std::vector<std::set<size_t>>{
           {first}, {first + 1, last}, {last, last + 1}, {first - 1, first + 2}, {starts[single], files.size() - 1}}) {
    for (size_t i : gone) ASSERT_EQ(unlink(files[i]->path.c_str()), 0) << i;
    for (unsigned jobs : {1u, 2u, 3u, 8u}) {
      PackReport report = writeArchive(*plan, {.compress = true, .jobs = jobs}, dir / "b.vrk");
      EXPECT_EQ(failureOf(report), "cannot read '" + files[*gone.begin()]->path + "': No such file or directory")
          << *gone.begin() << " " << jobs;
      EXPECT_FALSE(std::filesystem::exists(dir / "b.vrk"));
    }
    writeTree(dir / "tree", tree);
  }
}

// Files past kWholeFileBytes are deflated in pieces: the payload is still one zlib stream (readBack
// inflates and checks it), the bytes are the same for every job count, no buffer holds a whole
// file, and a file that shrinks under the writer, or a stop, leaves the old archive as it was.
TEST(Pack, LargeFilesAreCompressedInPiecesAlikeForEveryJobCount) {
  ScratchDir dir;
  auto contents = [](size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    // Runs repeated at distances that cross piece boundaries, so the dictionaries matter.
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i % 50000 < 30000 ? i % 997 : (i * seed) >> 9) * 31 % 251);
    return bytes;
  };
  const Tree tree = {
      {"a/whole", contents(kWholeFileBytes, 3)},           {"a/one-more", contents(kWholeFileBytes + 1, 5)},
      {"b/three", contents(3 * kPieceBytes, 7)},          {"b/odd", contents(5 * kPieceBytes / 2, 11)},
      {"b/small0", "s"}, {"b/small1", contents(4000, 13)}, {"c/empty", ""},
  };
  writeTree(dir / "tree", tree);
  for (int level : {kMinCompressionLevel, kDefaultCompressionLevel, kMaxCompressionLevel}) {
    armAllocationProbe();
    ASSERT_EQ(failureOf(packDirectory(dir / "tree", dir / "one.vrk", {.compress = true, .level = level})), "");
    EXPECT_LT(largestAllocationSinceArmed(), 2 * kPieceBytes) << level;
    EXPECT_EQ(readBack(dir / "one.vrk"), tree) << level;
    for (unsigned jobs : {2u, 3u, 8u}) {
      ASSERT_EQ(failureOf(packDirectory(dir / "tree", dir / "many.vrk", {.compress = true, .level = level, .jobs = jobs})), "");
      EXPECT_EQ(readFile(dir / "many.vrk"), readFile(dir / "one.vrk")) << level << " " << jobs;
    }
  }

  Result<TreeScan> scan = scanTree(dir / "tree", std::nullopt);
  ASSERT_TRUE(scan.ok());
  Result<CataloguePlan> plan = planCatalogue(scan->directories);
  ASSERT_TRUE(plan.ok());
  const std::atomic<int> stop{SIGTERM};
  for (bool compress : {false, true})
    for (unsigned jobs : {1u, 3u}) {
      writeTree(dir / "out", {{"a.vrk", "the old archive"}});
      PackReport report = writeArchive(*plan, {.compress = compress, .jobs = jobs, .stop = &stop}, dir / "out/a.vrk");
      EXPECT_EQ(failureOf(report), "the pack was stopped before it was complete");
      EXPECT_EQ(snapshotTree(dir / "out"), (Tree{{"a.vrk", "the old archive"}}));
    }
  ASSERT_EQ(truncate((dir / "tree/b/three").c_str(), off_t(3 * kPieceBytes / 2)), 0);
  for (unsigned jobs : {1u, 2u, 8u}) {
    PackReport report = writeArchive(*plan, {.compress = true, .jobs = jobs}, dir / "out/a.vrk");
    EXPECT_EQ(failureOf(report), "cannot read '" + dir / "tree/b/three" + "': it ended early") << jobs;
    EXPECT_EQ(snapshotTree(dir / "out"), (Tree{{"a.vrk", "the old archive"}})) << jobs;
  }
}

TEST(Pack, RefusalsNameTheCauseAndLeaveNoArchive) {
  struct Refusal {
    const char* what;
    Tree files;
    std::map<std::string, off_t> sparse;
    PackOptions options;
    ErrorKind kind;
    std::vector<std::string> mentions;
  };
  const std::string longDir = std::string(200, 'd') + "/" + std::string(54, 'e');  // 255 bytes
  ASSERT_EQ(hashFileName("axyz.c"), hashFileName("ayyz.b"));
  const std::vector<Refusal> refusals = {
      {"names differing in case", {{"a/Rock.nif", "1"}, {"b/rock.NIF", "2"}}, {}, {},
       ErrorKind::nameCollision, {"tree/a/Rock.nif", "tree/b/rock.NIF"}},
      {"different names, one hash", {{"axyz.c", "1"}, {"x/ayyz.b", "2"}}, {}, {},
       ErrorKind::nameCollision, {"tree/axyz.c", "tree/x/ayyz.b"}},
      {"folder name of 255 bytes", {{longDir + "/f", ""}}, {}, {},
       ErrorKind::folderNameTooLong, {longDir, "255"}},
      {"backslash in a file name", {{"ok/a\\b.txt", ""}}, {}, {},
       ErrorKind::unstorableName, {"tree/ok/a\\b.txt"}},
      {"backslash in a directory name", {{"x\\y/f", ""}}, {}, {},
       ErrorKind::unstorableName, {"tree/x\\y"}},
      {"stored files past 4 GiB - 1", {}, {{"big1", off_t(1) << 31}, {"big2", off_t(1) << 31}}, {},
       ErrorKind::tooLarge, {"4294967295"}},
      {"one file past 4 GiB - 1, compressed", {}, {{"huge", off_t(1) << 32}}, {.compress = true},
       ErrorKind::tooLarge, {"tree/huge", "4294967296"}},
  };
  for (const Refusal& r : refusals) {
    ScratchDir dir;
    writeTree(dir / "tree", r.files);
    std::filesystem::create_directories(dir / "tree");
    for (const auto& [name, size] : r.sparse) {
      writeFile(dir / "tree/" + name, {});
      ASSERT_EQ(truncate((dir / "tree/" + name).c_str(), size), 0);
    }
    writeTree(dir / "out", {{"a.vrk", "the old archive"}});
    PackReport report = packDirectory(dir / "tree", dir / "out/a.vrk", r.options);
    ASSERT_FALSE(report.status.ok()) << r.what;
    EXPECT_EQ(report.status.error().kind, r.kind) << r.what;
    for (const std::string& m : r.mentions)
      EXPECT_NE(failureOf(report).find(m), std::string::npos) << r.what << ": " << failureOf(report);
    EXPECT_EQ(snapshotTree(dir / "out"), (Tree{{"a.vrk", "the old archive"}})) << r.what;
  }

  ScratchDir dir;
  writeTree(dir / "tree", {{std::string(254, 'n') + "/f", "the longest folder name"}});
  EXPECT_FALSE(!packDirectory(dir / "tree", dir / "a.vrk", {}).status.ok());
  PackReport report = packDirectory(dir / "tree", dir / "no/such/a.vrk", {});
  ASSERT_FALSE(report.status.ok());
  EXPECT_EQ(report.status.error().kind, ErrorKind::cannotWrite);
  EXPECT_NE(failureOf(report).find("no/such/a.vrk"), std::string::npos);
}

TEST(Pack, LinksAndSpecialFilesAreNotPackedAndAreNoted) {
  ScratchDir dir;
  writeTree(dir / "outside", {{"secret.txt", "outside the tree"}});
  writeTree(dir / "tree", {{"real.txt", "in"}, {"looks.bin", std::string("\1\2\3\4\x78\x9c", 6)}});
  ASSERT_EQ(symlink("real.txt", (dir / "tree/link.txt").c_str()), 0);
  ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/linked-dir").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "tree/pipe").c_str(), 0644), 0);

  PackReport report = packDirectory(dir / "tree", dir / "a.vrk", {});
  ASSERT_FALSE(!report.status.ok());
  EXPECT_EQ(readBack(dir / "a.vrk"),
            (Tree{{"real.txt", "in"}, {"looks.bin", std::string("\1\2\3\4\x78\x9c", 6)}}));
  ASSERT_EQ(report.notes.size(), 4u);
  EXPECT_EQ(report.notes[0], dir / "tree/link.txt: symbolic link, not followed");
  EXPECT_EQ(report.notes[1], dir / "tree/linked-dir: symbolic link, not followed");
  EXPECT_EQ(report.notes[2], dir / "tree/pipe: not a regular file");
  EXPECT_NE(report.notes[3].find("tree/looks.bin: its bytes 4 and 5"), std::string::npos);
  EXPECT_EQ(packDirectory(dir / "tree", dir / "z.vrk", {.compress = true}).notes.size(), 3u);
}

TEST(Pack, AnArchiveInsideTheTreeIsNotPackedIntoItself) {
  ScratchDir dir;
  writeTree(dir / "tree", {{"a.txt", "a"}});
  std::filesystem::create_directories(dir / "tree/empty/emptier");
  ASSERT_FALSE(!packDirectory(dir / "tree", dir / "tree/self.vrk", {}).status.ok());
  Bytes first = readFile(dir / "tree/self.vrk");
  ASSERT_FALSE(!packDirectory(dir / "tree", dir / "tree/self.vrk", {}).status.ok());
  EXPECT_EQ(readFile(dir / "tree/self.vrk"), first);
  EXPECT_EQ(readBack(dir / "tree/self.vrk"), (Tree{{"a.txt", "a"}}));  // no folder for empty ones
}

}  // namespace
}  // namespace oxtrel
