#include "catalogue/catalogue_loader.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "allocation_probe.h"
#include "cli/command_run.h"
#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

Result<Catalogue> loadBytes(const Bytes& bytes) { return loadCatalogue(memoryFile(bytes)); }

bool isTruncated(const Result<Catalogue>& r) { return !r && r.error().kind == ErrorKind::truncated; }

TestArchive twoFolders() {
  TestArchive a;
  a.header.archiveFlags = kCompressedFlag;
  a.folders = {
      {.name = "meshes\\rocks", .files = {{.name = "rock01.nif", .payload = bytesOf("R1")},
                                          {.name = "rock02.nif", .payload = bytesOf("R22")}}},
      {.name = "sound", .files = {{.name = "wind.wav", .payload = bytesOf("W")}}},
  };
  return a;
}

TEST(CatalogueLoader, ZeroCountsAreValidAtEveryLevel) {
  TestArchive noFolders;
  noFolders.nameBlock = bytesOf(std::string("orphan.kf\0", 10));
  Result<Catalogue> r = loadBytes(buildArchive(noFolders));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(folderCount(*r), 0u);
  EXPECT_EQ(r->nameBlockOffset, 36u);

  TestArchive emptyFolder;
  emptyFolder.folders = {{.name = "empty"}, {.name = "", .files = {{.name = "x"}}}};
  r = loadBytes(buildArchive(emptyFolder));
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(folderFiles(*r, 0).empty());
  EXPECT_EQ(folderName(*r, 1), "");
  EXPECT_EQ(folderFiles(*r, 1).size(), 1u);

  r = loadBytes(buildArchive(TestArchive{}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->header.totalNameLength, 0u);
}

TEST(CatalogueLoader, FolderNamesStopAtTheFirstNul) {
  TestArchive a;
  a.folders = {
      {.storedName = bytesOf(std::string("abc\0junk\0", 9)), .files = {{.name = "f"}}},
      {.storedName = bytesOf(std::string("\0", 1))},
      {.storedName = Bytes{}},                 // nameLength 0
      {.storedName = bytesOf("no-terminator")},  // nameLength bytes without a NUL
      {.name = "after"},
  };
  Result<Catalogue> r = loadBytes(buildArchive(a));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(folderName(*r, 0), "abc");
  EXPECT_EQ(folderFiles(*r, 0).size(), 1u);  // the junk was skipped, not misread
  EXPECT_EQ(folderName(*r, 1), "");
  EXPECT_EQ(folderName(*r, 2), "");
  EXPECT_EQ(folderName(*r, 3), "no-terminator");
  EXPECT_EQ(folderName(*r, 4), "after");
}

TEST(CatalogueLoader, UnexaminedWordsHaveNoEffect) {
  TestArchive plain = twoFolders();
  TestArchive noisy = twoFolders();
  noisy.header.identification = 0xDEADBEEF;
  noisy.header.word4 = 0xFFFFFFFF;
  noisy.header.tableOffset = 0x12345678;
  noisy.header.archiveFlags = kCompressedFlag | 0xFFFFFFF0u | 3u;
  noisy.header.word24 = 7;
  noisy.header.word32 = 0xFFFFFFFF;
  for (TestFolder& folder : noisy.folders) {
    folder.blockOffset = 0xABCDEF01;
    folder.hash = NameHash{1, 2, 3, 4, 5, 6, 7, 8};
  }
  Bytes bytes = buildArchive(noisy);

  Result<Catalogue> a = loadBytes(buildArchive(plain));
  Result<Catalogue> b = loadBytes(bytes);
  ASSERT_TRUE(b.ok());
  EXPECT_TRUE(isCompressed(b->header));
  EXPECT_EQ(a->folderNames, b->folderNames);
  EXPECT_EQ(a->nameStarts, b->nameStarts);
  EXPECT_EQ(a->fileStarts, b->fileStarts);
  ASSERT_EQ(a->files.size(), b->files.size());
  for (size_t j = 0; j < a->files.size(); ++j) {
    EXPECT_EQ(a->files[j].hash, b->files[j].hash);
    EXPECT_EQ(a->files[j].offset, b->files[j].offset);
  }
  EXPECT_EQ(a->nameBlockOffset, b->nameBlockOffset);
}

// The tables in memory take no more than the tables in the file, whatever shape they have: many
// empty folders, many records in one folder, or counts that the file could hold only if every
// folder had no block (refused before anything is reserved).
TEST(CatalogueLoader, MemoryStaysWithinTheTablesSizeInTheFile) {
  struct Case {
    const char* what;
    Bytes bytes;
    bool loads;
  };
  std::vector<Case> cases;
  TestArchive emptyFolders;
  emptyFolders.folders.assign(100000, TestFolder{.storedName = Bytes{}});
  cases.push_back({"100000 empty folders", buildArchive(emptyFolders), true});
  TestArchive oneFolder;
  oneFolder.folders.push_back({.name = "f"});
  oneFolder.folders[0].files.assign(100000, TestFile{.name = "x.nif"});
  oneFolder.nameBlock = bytesOf(std::string("x.nif\0", 6));
  cases.push_back({"100000 records in one folder", buildArchive(oneFolder), true});
  Bytes claims(kHeaderSize + 100000 * kFolderRecordSize, 0);
  storeLe32(claims.data() + 16, 100000);  // the folder table fills the file: no room for its blocks
  cases.push_back({"folders without room for their blocks", claims, false});

  const size_t readBuffer = 128 * 1024;
  for (const Case& c : cases) {
    const PositionalFile file = memoryFile(c.bytes);  // made before the probe: its writer buffers
    armAllocationProbe();
    Result<Catalogue> loaded = loadCatalogue(file);
    EXPECT_EQ(loaded.ok(), c.loads) << c.what;
    EXPECT_LE(peakBytesSinceArmed(), (c.loads ? c.bytes.size() : 0) + readBuffer) << c.what;
  }
}

// Every way the tables can end early: a cut at every byte before the payloads, a count reaching
// far past the end, a folder claiming one record more than it holds (which pushes the name block
// past the end). The loader says so without sizing anything from the count, and the binary prints
// its one line and exits 1.
TEST(CatalogueLoader, ShortTablesAreTruncatedThroughEveryLayer) {
  TestArchive a = twoFolders();
  a.header.archiveFlags = 0;
  const Bytes full = buildArchive(a);
  const size_t tablesEnd = full.size() - 6;  // the three payloads (2 + 3 + 1 bytes) follow the tables
  std::vector<std::pair<std::string, Bytes>> cases;
  for (size_t cut = 0; cut < tablesEnd; ++cut)
    cases.emplace_back("cut at " + std::to_string(cut), Bytes(full.begin(), full.begin() + ptrdiff_t(cut)));
  for (auto [what, at] : {std::pair{"folderCount", size_t(16)}, {"totalNameLength", size_t(28)},
                          {"first folder's fileCount", kHeaderSize + 8}}) {
    Bytes huge = full;
    storeLe32(huge.data() + at, 0xFFFFFFFF);
    cases.emplace_back(what, huge);
  }
  a.folders[1].fileCount = 2;
  a.nameBlock = bytesOf(std::string(40, 'n'));
  cases.emplace_back("overstated fileCount", buildArchive(a));

  ScratchDir dir;
  for (const auto& [label, bytes] : cases) {
    const PositionalFile file = memoryFile(bytes);
    armAllocationProbe();
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(isTruncated(loadCatalogue(file))) << label;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << label;
    EXPECT_LE(largestAllocationSinceArmed(), 4 * full.size()) << label;
    writeFile(dir / "cut.vrk", bytes);
    ProcessResult r = runOxtrel({"cut.vrk"}, dir.path);
    EXPECT_EQ(r.exitStatus, 1) << label;
    EXPECT_EQ(r.out, "Error: truncated catalogue in cut.vrk\n") << label;
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
  // Cutting into the payloads is not the loader's business.
  for (size_t cut = tablesEnd; cut <= full.size(); ++cut)
    EXPECT_TRUE(loadBytes(Bytes(full.begin(), full.begin() + ptrdiff_t(cut))).ok());
}

TEST(CatalogueLoader, AReadErrorInsideTheTablesIsReportedAsOne) {
  // A descriptor the kernel refuses to read from (a directory) stands for a disk that fails.
  ScratchDir dir;
  PositionalFile failing{platform::File(open(dir.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), 4096};
  Result<Catalogue> r = loadCatalogue(failing);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::cannotRead);
  EXPECT_EQ(r.error().systemError, EISDIR);

  // The command line says what happened, distinct from a file that is too short.
  const std::pair<Error, std::string> lines[] = {
      {r.error(), "Error: cannot read catalogue in a.vrk: Is a directory\n"},
      {Error{ErrorKind::cannotRead, EIO, "catalogue"}, "Error: cannot read catalogue in a.vrk: Input/output error\n"},
      {Error{ErrorKind::cannotRead, 0, "catalogue"}, "Error: cannot read catalogue in a.vrk: it ended early\n"},
      {Error{ErrorKind::truncated, 0, "catalogue"}, "Error: truncated catalogue in a.vrk\n"},
      {Error{ErrorKind::cannotOpen, ENOENT, "a.vrk"}, "cannot open a.vrk\n"},
  };
  for (const auto& [error, expected] : lines) {
    char* text = nullptr;
    size_t size = 0;
    Console console;
    console.lines = open_memstream(&text, &size);
    printOpenFailure(console, "a.vrk", error);
    std::fclose(console.lines);
    EXPECT_EQ(std::string(text, size), expected);
    std::free(text);
  }
}

}  // namespace
}  // namespace oxtrel
