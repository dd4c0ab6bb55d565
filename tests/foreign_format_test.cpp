// Files of other formats handed to the reader: refused by their identification bytes, in the
// library and in every mode of the command line, while .vrk archives whose bytes merely resemble
// them keep opening.

#include <oxtrel/oxtrel.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive_builder.h"
#include "catalogue/foreign_format.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

Bytes withPrefix(std::initializer_list<uint8_t> prefix, size_t size = 64) {
  Bytes bytes(std::max(size, prefix.size()), 0);
  std::copy(prefix.begin(), prefix.end(), bytes.begin());
  return bytes;
}

// One 512-byte tar header for a 5-byte file, magic as given, its checksum set, and the data
// block after it.
Bytes tarFile(std::string_view magic, bool validChecksum = true) {
  Bytes b(1024, 0);
  auto put = [&](size_t at, std::string_view text) { std::memcpy(b.data() + at, text.data(), text.size()); };
  put(0, "hello.txt");
  put(100, "0000644");
  put(108, "0001750");
  put(116, "0001750");
  put(124, "00000000005");
  put(136, "14000000000");
  put(156, "0");
  put(257, magic);
  put(512, "hello");
  std::memset(b.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (size_t i = 0; i < 512; ++i) sum += b[i];
  char field[8];
  std::snprintf(field, sizeof field, "%06o", sum + (validChecksum ? 0 : 1));
  put(148, std::string_view(field, 7));  // six digits and a NUL; the last byte stays a space
  return b;
}

// A .vrk archive whose name block holds "ustar" and a NUL at byte 257, as a tar's magic would.
Bytes vrkWithUstarAt257() {
  TestArchive a;
  a.folders = {{.name = "f", .files = {{.name = "x", .payload = bytesOf("X")}}}};
  size_t nameBlockAt = 36 + 16 + 1 + 2 + 16;
  std::string name(257 - nameBlockAt - 2, 'n');  // the name block starts with "x\0"
  name += "ustar";
  a.folders[0].files.push_back({.name = name, .payload = bytesOf("U")});
  return buildArchive(a);
}

struct Case {
  const char* what;
  Bytes bytes;
  const char* format;  // null: not refused as another format
};

std::vector<Case> cases() {
  Bytes posixTar = tarFile(std::string_view("ustar\0" "00", 8));
  Bytes ownTar = posixTar;
  std::memcpy(ownTar.data(), "OXTR", 4);  // our identification word; checksum made valid again
  std::memset(ownTar.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (size_t i = 0; i < 512; ++i) sum += ownTar[i];
  std::snprintf(reinterpret_cast<char*>(ownTar.data() + 148), 8, "%06o", sum);
  return {
      {"posix tar", posixTar, "tar archive"},
      {"old gnu tar", tarFile(std::string_view("ustar  \0", 8)), "tar archive"},
      {"ustar with a wrong checksum", tarFile(std::string_view("ustar\0" "00", 8), false), nullptr},
      {"a tar header carrying our identification", ownTar, nullptr},
      {"a tar header cut short", Bytes(posixTar.begin(), posixTar.begin() + 300), nullptr},
      {"zip local header", withPrefix({'P', 'K', 3, 4, 20, 0}), "zip archive"},
      {"empty zip", withPrefix({'P', 'K', 5, 6}, 22), "zip archive"},
      {"split zip", withPrefix({'P', 'K', 7, 8, 'P', 'K', 3, 4}), "zip archive"},
      {"PK and other bytes", withPrefix({'P', 'K', 1, 2}), nullptr},
      {"zip signature cut short", {'P', 'K', 3}, nullptr},
      {"gzip", withPrefix({0x1f, 0x8b, 8, 0}), "gzip file"},
      {"gzip with reserved flags", withPrefix({0x1f, 0x8b, 8, 0xE0}), nullptr},
      {"gzip magic, another method", withPrefix({0x1f, 0x8b, 7, 0}), nullptr},
      {"7z", withPrefix({'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4}), "7z archive"},
      {"7z signature's first five bytes", withPrefix({'7', 'z', 0xBC, 0xAF, 0x27, 0}), nullptr},
      {"a .vrk archive with ustar at 257", vrkWithUstarAt257(), nullptr},
  };
}

TEST(ForeignFormat, IdentificationBytesDecideInEveryWayOfOpening) {
  ScratchDir dir;
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    std::optional<std::string_view> seen =
        foreignFormat(std::span(c.bytes).first(std::min(c.bytes.size(), kForeignProbeBytes)));
    EXPECT_EQ(seen.value_or(""), std::string_view(c.format ? c.format : ""));
    writeFile(dir / "file", c.bytes);
    Result<Archive> byPath = openArchive(dir / "file");
    Result<Archive> byMemory = openArchiveFromMemory(c.bytes, "memory");
    for (Result<Archive>* opened : {&byPath, &byMemory}) {
      if (!c.format) {
        EXPECT_TRUE(opened->ok() || opened->error().kind != ErrorKind::notAnArchive);
        continue;
      }
      ASSERT_FALSE(opened->ok());
      EXPECT_EQ(opened->error().kind, ErrorKind::notAnArchive);
      EXPECT_EQ(message(opened->error()), std::string("not a .vrk archive (it looks like a ") + c.format + ")");
    }
  }
  Result<Archive> resembling = openArchive(dir / "file");  // the last case: a real archive
  ASSERT_TRUE(resembling.ok());
  EXPECT_EQ(entryCount(*resembling), 2u);
}

// Files made by the system's own tar and gzip, in every mode of the command line.
TEST(ForeignFormat, EveryModeRefusesRealTarAndGzipFiles) {
  ScratchDir dir;
  writeTree(dir.path, {{"in/a.txt", "A"}});
  ASSERT_EQ(std::system(("cd '" + dir.path + "' && tar -cf gnu.tar --format=gnu in && tar -cf pax.tar --format=pax in"
                         " && tar -cf ustar.tar --format=ustar in && cp gnu.tar t && gzip -n t && mv t.gz x.gz")
                            .c_str()),
            0);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"gnu.tar", "tar archive"}, {"pax.tar", "tar archive"}, {"ustar.tar", "tar archive"}, {"x.gz", "gzip file"}};
  const std::vector<std::vector<std::string>> modes = {{}, {"-l"}, {"--json"}, {"-l", "--json"},
                                                       {"-t"}, {"-O"}, {"-q", "-k"}};
  for (const auto& [file, format] : files) {
    for (std::vector<std::string> args : modes) {
      // Standard output carries only data with -O and JSON with --json.
      bool toError = std::find(args.begin(), args.end(), "--json") != args.end() ||
                     std::find(args.begin(), args.end(), "-O") != args.end();
      args.push_back(file);
      SCOPED_TRACE(file + " " + args.front());
      ProcessResult r = runOxtrel(args, dir.path);
      EXPECT_EQ(r.exitStatus, 1);
      std::string line = "Error: " + file + " is not a .vrk archive (it looks like a " + format + ")\n";
      EXPECT_EQ(toError ? r.err : r.out, line);
      EXPECT_EQ(toError ? r.out : r.err, "");
    }
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

}  // namespace
}  // namespace oxtrel
