// Writes the fuzzers' seed corpus: seed_corpus <corpus directory> [sample.vrk]
// Small archives of every shape the extractor meets, and payloads stored and compressed.

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "scratch.h"

namespace {

using namespace oxtrel;
using namespace oxtrel::testing;

struct Seed {
  std::string name;
  Bytes bytes;
};

Bytes filled(size_t n, char c) { return Bytes(n, uint8_t(c)); }

std::vector<Seed> archives() {
  auto packed = [](const Bytes& b) { return compressedPayload(b); };
  TestArchive stored;
  stored.folders = {{.name = "meshes\\rocks", .files = {{.name = "rock01.nif", .payload = bytesOf("rock")},
                                                        {.name = "Empty.KF", .payload = {}}}},
                    {.name = "sound/wind", .files = {{.name = "gust.wav", .payload = bytesOf("whoosh")}}}};

  TestArchive compressed;
  compressed.header.archiveFlags = kCompressedFlag;
  compressed.folders = {{.name = "textures", .files = {{.name = "sky.dds", .payload = packed(filled(600, 's'))},
                                                       {.name = "none.dds", .payload = packed({})}}},
                        {.name = "", .files = {{.name = "top.txt", .payload = packed(bytesOf("top level"))}}}};

  TestArchive unmatched = stored;
  unmatched.nameBlock = bytesOf(std::string("gust.wav\0", 9));
  unmatched.fileCount = 1;

  TestArchive escapes;
  escapes.folders = {{.name = "..\\..\\outside", .files = {{.name = "keep.txt", .payload = bytesOf("overwritten")}}},
                     {.name = "up", .files = {{.name = "inside.txt", .payload = bytesOf("through a link")}}},
                     {.name = "", .files = {{.name = "keep.txt", .payload = bytesOf("replaces the link")}}},
                     {.name = "a", .files = {{.name = "..", .payload = bytesOf("dot dot")}}}};

  TestArchive clashes;
  clashes.folders = {{.name = "a/b", .files = {{.name = "f", .payload = bytesOf("first")}}},
                     {.name = "a\\b", .files = {{.name = "f", .payload = bytesOf("second")}}},
                     {.name = "a\\b\\f", .files = {{.name = "g", .payload = bytesOf("under a file")}}},
                     {.name = "a", .files = {{.name = "b", .payload = bytesOf("over a directory")}}},
                     {.name = ".", .files = {{.name = ".oxtrel-1-0.tmp", .payload = bytesOf("not a temporary")}}}};

  TestArchive damaged;
  damaged.header.archiveFlags = kCompressedFlag;
  Bytes corrupt = packed(bytesOf("corrupt corrupt corrupt"));
  corrupt[8] ^= 0x55;
  damaged.folders = {{.name = "d", .files = {{.name = "bad.nif", .payload = corrupt},
                                             {.name = "short.nif", .payload = bytesOf("ab")},
                                             {.name = "small.nif", .payload = packed(bytesOf("12345"))},
                                             {.name = "far.nif", .payload = {}, .size = 40, .offset = 0xFFFFFF00}}}};
  storeLe32(damaged.folders[0].files[2].payload.data(), 2);

  TestArchive looksPacked;
  looksPacked.folders = {{.name = "p", .files = {{.name = "x.bin", .payload = {1, 2, 3, 4, 0x78, 0x9C, 0x4B, 0x04}}}}};

  return {{"stored.vrk", buildArchive(stored)},       {"compressed.vrk", buildArchive(compressed)},
          {"unmatched.vrk", buildArchive(unmatched)}, {"escapes.vrk", buildArchive(escapes)},
          {"clashes.vrk", buildArchive(clashes)},     {"damaged.vrk", buildArchive(damaged)},
          {"looks-packed.vrk", buildArchive(looksPacked)}};
}

Bytes withMode(uint8_t mode, const Bytes& payload) {
  Bytes out{mode};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<Seed> payloads() {
  Bytes text = bytesOf("a payload of text, a payload of text, with some variety: 0123456789");
  Bytes wrongSize = compressedPayload(text, 3);
  Bytes badAdler = compressedPayload(text);
  badAdler.back() ^= 1;
  return {{"stored", withMode(0, text)},
          {"stored-looks-packed", withMode(0, {9, 9, 9, 9, 0x78, 0x9C, 1})},
          {"compressed-text", withMode(1, compressedPayload(text))},
          {"compressed-runs", withMode(1, compressedPayload(filled(2000, 'r')))},
          {"compressed-empty", withMode(1, compressedPayload({}))},
          {"compressed-size-zero", withMode(1, compressedPayload(text, 0))},
          {"compressed-too-small", withMode(1, wrongSize)},
          {"compressed-bad-adler", withMode(1, badAdler)}};
}

void writeAll(const std::string& dir, const std::vector<Seed>& seeds) {
  mkdir(dir.c_str(), 0755);
  for (const Seed& s : seeds) writeFile(dir + "/" + s.name, s.bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: seed_corpus <corpus directory> [sample.vrk]\n", stderr);
    return 2;
  }
  std::string root = argv[1];
  std::vector<Seed> archiveSeeds = archives();
  if (argc == 3) archiveSeeds.push_back({"sample.vrk", readFile(argv[2])});
  mkdir(root.c_str(), 0755);
  writeAll(root + "/catalogue", archiveSeeds);
  writeAll(root + "/extraction", archiveSeeds);
  writeAll(root + "/payload", payloads());
  return 0;
}
