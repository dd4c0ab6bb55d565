// Archives spelled out byte by byte. The other tests build archives with the program's own record
// encoder, so a fault made alike in the encoder and the decoder passes them; these bytes pin the
// layout itself. The name hashes are the format's worked examples.

#include <gtest/gtest.h>
#include <unistd.h>

#include "catalogue/catalogue_loader.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
using Tree = std::map<std::string, std::string>;

// What `oxtrel-pack` writes, stored, for the tree kStoredTree.
const Bytes kStored = {
    'O', 'X', 'T', 'R', 0x00, 0x00, 0x00, 0x00,      // identification (the packer's mark); unexamined
    0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // table offset 36; archive flags: stored
    0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,  // folder count 2; file count 3
    0x00, 0x00, 0x00, 0x00, 0x17, 0x00, 0x00, 0x00,  // unexamined; name block length 23
    0x00, 0x00, 0x00, 0x00,                          // unexamined
    // Folder records at 36: hash of the folder name, file count, block offset.
    0x61, 0x00, 0x01, 0x61, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x44, 0x00, 0x00, 0x00,
    0x63, 0x5c, 0x03, 0x62, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x67, 0x00, 0x00, 0x00,
    // Block of folder "a" at 68: name length 2, "a" NUL, then its file records: hash, size, offset.
    0x02, 'a', 0x00,
    0x63, 0xe2, 0x03, 0x61, 0xfd, 0x45, 0xcd, 0x92, 0x04, 0x00, 0x00, 0x00, 0x93, 0x00, 0x00, 0x00,  // abc.nif
    0xe3, 0x62, 0x03, 0x61, 0xe9, 0xe3, 0x11, 0x17, 0x02, 0x00, 0x00, 0x00, 0x97, 0x00, 0x00, 0x00,  // abc.kf
    // Block of folder "b\c" at 103.
    0x04, 'b', '\\', 'c', 0x00,
    0x63, 0x62, 0x03, 0xe1, 0x9e, 0xcf, 0x33, 0x97, 0x05, 0x00, 0x00, 0x00, 0x99, 0x00, 0x00, 0x00,  // abc.wav
    // Name block at 124.
    'a', 'b', 'c', '.', 'n', 'i', 'f', 0x00, 'a', 'b', 'c', '.', 'k', 'f', 0x00,
    'a', 'b', 'c', '.', 'w', 'a', 'v', 0x00,
    // Payloads at 0x93, 0x97 and 0x99.
    'N', 'I', 'F', '!', 'k', 'f', 'w', 'a', 'v', 'e', '!',
};
const Tree kStoredTree = {{"a/abc.nif", "NIF!"}, {"a/abc.kf", "kf"}, {"b/c/abc.wav", "wave!"}};

// A compressed archive whose unexamined words hold junk.
const Bytes kCompressed = {
    'J', 'U', 'N', 'K', 0xff, 0xff, 0xff, 0xff,      // identification; unexamined
    0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,  // a wrong table offset, never trusted; compressed
    0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  // folder count 1; file count 1
    0xee, 0xee, 0xee, 0xee, 0x08, 0x00, 0x00, 0x00,  // unexamined; name block length 8
    0xdd, 0xdd, 0xdd, 0xdd,                          // unexamined
    // Folder record at 36: a hash that is never checked, file count 1, a wrong block offset.
    1, 2, 3, 4, 5, 6, 7, 8, 0x01, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00,
    // Block of folder "tex" at 52.
    0x04, 't', 'e', 'x', 0x00,
    0xe3, 0xe2, 0x03, 0x61, 0xc5, 0xa9, 0xdb, 0x8d, 0x15, 0x00, 0x00, 0x00, 0x51, 0x00, 0x00, 0x00,  // abc.dds
    // Name block at 73.
    'a', 'b', 'c', '.', 'd', 'd', 's', 0x00,
    // Payload at 0x51, 21 bytes: unpacked size 18, then zlib's stream of "hello hello hello\n".
    0x12, 0x00, 0x00, 0x00,
    0x78, 0x9c, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x90, 0x5c, 0x00, 0x40, 0xb5, 0x06, 0x87,
};

TEST(LiteralArchive, TheLoaderReadsEveryField) {
  Result<Catalogue> loaded = loadCatalogue(memoryFile(kStored));
  ASSERT_TRUE(loaded.ok());
  const Catalogue& c = *loaded;
  const ArchiveHeader& h = c.header;
  EXPECT_EQ((std::vector{h.identification, h.tableOffset, h.archiveFlags, h.folderCount, h.fileCount, h.totalNameLength}),
            (std::vector<uint32_t>{0x5254584f, 36, 0, 2, 3, 23}));
  ASSERT_EQ(folderCount(c), 2u);
  EXPECT_EQ(folderName(c, 0), "a");
  EXPECT_EQ(decodeFolderRecord(kStored.data() + kHeaderSize).hash, (NameHash{0x61, 0x00, 0x01, 0x61, 0, 0, 0, 0}));
  EXPECT_EQ(folderName(c, 1), "b\\c");
  EXPECT_EQ(decodeFolderRecord(kStored.data() + kHeaderSize + kFolderRecordSize).hash,
            (NameHash{0x63, 0x5c, 0x03, 0x62, 0, 0, 0, 0}));
  struct Record {
    size_t folder, index;
    NameHash hash;
    uint32_t size, offset;
  };
  const Record records[] = {
      {0, 0, {0x63, 0xe2, 0x03, 0x61, 0xfd, 0x45, 0xcd, 0x92}, 4, 0x93},
      {0, 1, {0xe3, 0x62, 0x03, 0x61, 0xe9, 0xe3, 0x11, 0x17}, 2, 0x97},
      {1, 0, {0x63, 0x62, 0x03, 0xe1, 0x9e, 0xcf, 0x33, 0x97}, 5, 0x99},
  };
  ASSERT_EQ(folderFiles(c, 0).size(), 2u);
  ASSERT_EQ(folderFiles(c, 1).size(), 1u);
  for (const Record& r : records) {
    SCOPED_TRACE(std::to_string(r.folder) + "/" + std::to_string(r.index));
    const FileRecord& got = folderFiles(c, r.folder)[r.index];
    EXPECT_EQ(got.hash, r.hash);
    EXPECT_EQ(got.size, r.size);
    EXPECT_EQ(got.offset, r.offset);
  }
  EXPECT_EQ(c.nameBlockOffset, 124u);
  EXPECT_EQ(c.header.totalNameLength, 147u - 124u);
}

TEST(LiteralArchive, TheBinaryExtractsKnownFiles) {
  struct Case {
    const Bytes& archive;
    std::string console;
    Tree tree;
  };
  const Case cases[] = {
      {kStored,
       "      93        4 data\\a\\abc.nif\n"
       "      97        2 data\\a\\abc.kf\n"
       "      99        5 data\\b\\c\\abc.wav\n",
       {{"a/", ""}, {"a/abc.nif", "NIF!"}, {"a/abc.kf", "kf"}, {"b/", ""}, {"b/c/", ""}, {"b/c/abc.wav", "wave!"}}},
      {kCompressed, "      51       15 data\\tex\\abc.dds\n", {{"tex/", ""}, {"tex/abc.dds", "hello hello hello\n"}}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    writeFile(dir / "a.vrk", c.archive);
    ProcessResult r = runOxtrel({"a.vrk"}, dir.path);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, c.console);
    EXPECT_EQ(snapshotTree(dir / "data"), c.tree);
  }
}

TEST(LiteralArchive, PackWritesTheseBytes) {
  ScratchDir dir;
  writeTree(dir / "tree", kStoredTree);
  ProcessResult r = runPack({"out.vrk", "tree"}, dir.path);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(readFile(dir / "out.vrk"), kStored);
}

}  // namespace
}  // namespace oxtrel
