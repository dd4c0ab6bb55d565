// Trees packed by oxtrel-pack and extracted by oxtrel come back exactly as they were.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "archive_builder.h"
#include "catalogue/name_hash.h"
#include "catalogue/payload_format.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
using Tree = std::map<std::string, std::string>;

std::string randomName(std::mt19937& rng) {
  // Upper case, dots anywhere, and bytes >= 0x80 that are not valid UTF-8 on their own.
  static const std::string kBytes = "abcdefghXYZ0189_-. \xC3\xA9\xE9\x80\xFF";
  static const std::vector<std::string> kEndings = {"", "", ".txt", ".NIF", ".kf", ".DDS",
                                                    ".wav", ".tar.gz", ".Bin", "."};
  std::string name;
  for (size_t n = std::uniform_int_distribution<size_t>(1, 12)(rng); name.size() < n;)
    name += kBytes[std::uniform_int_distribution<size_t>(0, kBytes.size() - 1)(rng)];
  name += kEndings[std::uniform_int_distribution<size_t>(0, kEndings.size() - 1)(rng)];
  return name == "." || name == ".." ? "dots" : name;
}

std::string randomContents(std::mt19937& rng, size_t size) {
  std::string contents(size, '\0');
  bool text = rng() % 2 == 0;  // text compresses, random bytes do not
  for (char& c : contents) c = text ? "the quick brown fox\n"[rng() % 20] : char(rng());
  // A stored payload starting like a compressed one extracts but is reported as possibly packed.
  if (looksZlibPacked({reinterpret_cast<const uint8_t*>(contents.data()), size})) contents[5] = 0;
  return contents;
}

// Files at random depths, every directory holding at least one file somewhere below it, no two
// different names sharing a hash; "readme.txt" recurs in many folders, which is allowed.
Tree randomTree(std::mt19937& rng, size_t fileCount, size_t largeSize) {
  Tree tree;
  std::vector<std::string> directories{""};
  std::set<std::string> taken;
  std::map<NameHash, std::string> names;
  for (const char* reserved : {"readme.txt", "filler"}) names[hashFileName(reserved)] = reserved;
  while (tree.size() < fileCount) {
    std::string parent = directories[rng() % directories.size()];
    std::string name = rng() % 8 == 0 ? "readme.txt" : randomName(rng);
    auto [it, fresh] = names.try_emplace(hashFileName(name), name);
    if (it->second != name || !taken.insert(parent + name).second) continue;
    if (rng() % 4 == 0 && parent.size() < 60) {
      directories.push_back(parent + name + "/");
      continue;  // filled later; a directory left empty would not come back
    }
    size_t size = tree.empty() ? largeSize : std::vector<size_t>{0, 1, 5, 6, 700, 4096, 70000}[rng() % 7];
    tree[parent + name] = randomContents(rng, size);
  }
  for (const std::string& d : directories)
    if (!d.empty() && std::none_of(tree.begin(), tree.end(), [&](const auto& f) { return f.first.starts_with(d); }))
      tree[d + "filler"] = "";
  return tree;
}

// The first few entries where two snapshots differ, with sizes rather than contents, so that a
// failure stays readable.
std::string differences(const Tree& expected, const Tree& actual) {
  std::vector<std::string> found;
  for (const auto& [path, contents] : expected) {
    auto it = actual.find(path);
    if (it == actual.end())
      found.push_back("missing " + path);
    else if (it->second != contents)
      found.push_back("differs " + path + " (" + std::to_string(contents.size()) + " bytes, got " +
                      std::to_string(it->second.size()) + ")");
  }
  for (const auto& entry : actual)
    if (!expected.contains(entry.first)) found.push_back("extra " + entry.first);
  std::string out;
  for (size_t i = 0; i < found.size() && i < 5; ++i) out += found[i] + "\n";
  return found.size() > 5 ? out + "and " + std::to_string(found.size() - 5) + " more\n" : out;
}

size_t lineCount(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

TEST(RoundTrip, RandomTreesComeBackIdenticalStoredAndCompressed) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    Tree tree = randomTree(rng, 80, seed == 1 ? 3u << 20 : 0);
    for (const char* mode : {"stored", "compressed"}) {
      ScratchDir dir;
      writeTree(dir / "tree", tree);
      std::vector<std::string> args{"a.vrk", "tree"};
      if (mode == std::string("compressed")) args.insert(args.begin(), "-z");
      ProcessResult packed = runPack(args, dir.path);
      ASSERT_EQ(packed.exitStatus, 0) << packed.err;

      ProcessResult extracted = runOxtrel({"a.vrk"}, dir.path);
      EXPECT_EQ(extracted.exitStatus, 0) << "seed " << seed << ' ' << mode;
      EXPECT_EQ(lineCount(extracted.out), tree.size()) << "seed " << seed << ' ' << mode;
      EXPECT_EQ(differences(snapshotTree(dir / "tree"), snapshotTree(dir / "data")), "")
          << "seed " << seed << ' ' << mode;
    }
  }
}

TEST(RoundTrip, TheBundledSampleExtractsToTheSampleTree) {
  ScratchDir dir;
  ProcessResult r = runOxtrel({std::string(OXTREL_SOURCE_DIR) + "/examples/sample.vrk"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  Tree sample = snapshotTree(std::string(OXTREL_SOURCE_DIR) + "/examples/sample");
  EXPECT_GE(sample.size(), 24u);
  EXPECT_EQ(differences(sample, snapshotTree(dir / "data")), "");
}

}  // namespace
}  // namespace oxtrel
