#include "catalogue/catalogue_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "allocation_probe.h"
#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

LoadResult loadBytes(const Bytes& bytes) {
  int fd = memoryFile(bytes);
  OpenArchiveResult opened = archiveFromDescriptor(fd);
  EXPECT_EQ(opened.error, 0);
  LoadResult r = loadCatalogue(opened.file);
  close(fd);
  return r;
}

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

TEST(CatalogueLoader, ReadsEveryTable) {
  TestArchive a = twoFolders();
  Bytes bytes = buildArchive(a);
  LoadResult r = loadBytes(bytes);
  ASSERT_EQ(r.status, LoadStatus::ok);
  const Catalogue& c = r.catalogue;
  EXPECT_EQ(c.header.archiveFlags, kCompressedFlag);
  EXPECT_EQ(c.header.folderCount, 2u);
  EXPECT_EQ(c.header.fileCount, 3u);
  ASSERT_EQ(c.folders.size(), 2u);
  ASSERT_EQ(c.folderRecords.size(), 2u);
  EXPECT_EQ(c.folders[0].name, "meshes\\rocks");
  EXPECT_EQ(c.folders[0].hash, hashOfName("meshes\\rocks"));
  EXPECT_EQ(c.folders[1].name, "sound");
  ASSERT_EQ(c.folders[0].files.size(), 2u);
  EXPECT_EQ(c.folders[0].files[1].hash, hashOfName("rock02.nif"));
  EXPECT_EQ(c.folders[0].files[1].size, 3u);
  EXPECT_EQ(c.folders[0].files[1].offset, c.folders[0].files[0].offset + 2);
  EXPECT_EQ(std::string(bytes.begin() + ptrdiff_t(c.nameBlockOffset), bytes.end() - 6),
            std::string("rock01.nif\0rock02.nif\0wind.wav\0", 31));
}

TEST(CatalogueLoader, ZeroCountsAreValidAtEveryLevel) {
  TestArchive noFolders;
  noFolders.nameBlock = bytesOf(std::string("orphan.kf\0", 10));
  LoadResult r = loadBytes(buildArchive(noFolders));
  ASSERT_EQ(r.status, LoadStatus::ok);
  EXPECT_TRUE(r.catalogue.folders.empty());
  EXPECT_EQ(r.catalogue.nameBlockOffset, 36u);

  TestArchive emptyFolder;
  emptyFolder.folders = {{.name = "empty"}, {.name = "", .files = {{.name = "x"}}}};
  r = loadBytes(buildArchive(emptyFolder));
  ASSERT_EQ(r.status, LoadStatus::ok);
  EXPECT_TRUE(r.catalogue.folders[0].files.empty());
  EXPECT_EQ(r.catalogue.folders[1].name, "");
  EXPECT_EQ(r.catalogue.folders[1].files.size(), 1u);

  r = loadBytes(buildArchive(TestArchive{}));
  ASSERT_EQ(r.status, LoadStatus::ok);
  EXPECT_EQ(r.catalogue.header.totalNameLength, 0u);
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
  LoadResult r = loadBytes(buildArchive(a));
  ASSERT_EQ(r.status, LoadStatus::ok);
  EXPECT_EQ(r.catalogue.folders[0].name, "abc");
  EXPECT_EQ(r.catalogue.folders[0].files.size(), 1u);  // the junk was skipped, not misread
  EXPECT_EQ(r.catalogue.folders[1].name, "");
  EXPECT_EQ(r.catalogue.folders[2].name, "");
  EXPECT_EQ(r.catalogue.folders[3].name, "no-terminator");
  EXPECT_EQ(r.catalogue.folders[4].name, "after");
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

  LoadResult a = loadBytes(buildArchive(plain));
  LoadResult b = loadBytes(bytes);
  ASSERT_EQ(b.status, LoadStatus::ok);
  EXPECT_TRUE(isCompressed(b.catalogue.header));
  EXPECT_EQ(b.catalogue.folders[1].hash, (NameHash{1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(a.catalogue.folders.size(), b.catalogue.folders.size());
  for (size_t f = 0; f < a.catalogue.folders.size(); ++f) {
    EXPECT_EQ(a.catalogue.folders[f].name, b.catalogue.folders[f].name);
    ASSERT_EQ(a.catalogue.folders[f].files.size(), b.catalogue.folders[f].files.size());
    for (size_t j = 0; j < a.catalogue.folders[f].files.size(); ++j) {
      EXPECT_EQ(a.catalogue.folders[f].files[j].hash, b.catalogue.folders[f].files[j].hash);
      EXPECT_EQ(a.catalogue.folders[f].files[j].offset, b.catalogue.folders[f].files[j].offset);
    }
  }
  EXPECT_EQ(a.catalogue.nameBlockOffset, b.catalogue.nameBlockOffset);
}

TEST(CatalogueLoader, EveryCutOfTheTablesIsTruncated) {
  TestArchive a = twoFolders();
  a.header.archiveFlags = 0;
  Bytes full = buildArchive(a);
  LoadResult whole = loadBytes(full);
  ASSERT_EQ(whole.status, LoadStatus::ok);
  size_t tablesEnd = full.size() - 6;  // the three payloads (2 + 3 + 1 bytes) follow the tables
  for (size_t cut = 0; cut < tablesEnd; ++cut) {
    Bytes prefix(full.begin(), full.begin() + ptrdiff_t(cut));
    armAllocationProbe();
    LoadResult r = loadBytes(prefix);
    EXPECT_EQ(r.status, LoadStatus::truncated) << "cut at " << cut;
    EXPECT_LE(largestAllocationSinceArmed(), 4096u) << "cut at " << cut;
  }
  // Cutting into the payloads is not the loader's business.
  for (size_t cut = tablesEnd; cut <= full.size(); ++cut)
    EXPECT_EQ(loadBytes(Bytes(full.begin(), full.begin() + ptrdiff_t(cut))).status, LoadStatus::ok);
}

TEST(CatalogueLoader, HugeCountsAreRefusedBeforeAllocating) {
  struct Case {
    const char* what;
    size_t fieldOffset;
  };
  for (Case c : {Case{"folderCount", 16}, Case{"totalNameLength", 28},
                 Case{"first folder's fileCount", kHeaderSize + 8}}) {
    Bytes bytes = buildArchive(twoFolders());
    storeLe32(bytes.data() + c.fieldOffset, 0xFFFFFFFF);
    armAllocationProbe();
    auto start = std::chrono::steady_clock::now();
    LoadResult r = loadBytes(bytes);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, LoadStatus::truncated) << c.what;
    EXPECT_LE(largestAllocationSinceArmed(), bytes.size() * 4) << c.what;
    EXPECT_LT(elapsed, std::chrono::seconds(1)) << c.what;
  }
}

TEST(CatalogueLoader, AnOverstatedFileCountPushesTheNameBlockPastTheEnd) {
  // A folder claiming one more record than it has swallows the start of the name block.
  TestArchive a = twoFolders();
  a.folders[1].fileCount = 2;
  a.nameBlock = bytesOf(std::string(40, 'n'));
  LoadResult r = loadBytes(buildArchive(a));
  ASSERT_EQ(r.status, LoadStatus::truncated);  // the name block is now 16 bytes short
}

}  // namespace
}  // namespace oxtrel
