// Damaged archives, every way: cut at every byte, every catalogue byte flipped. Whatever the
// damage, a run never crashes, never writes outside data, never leaves a partial file or a
// temporary, prints only its own lines and exits 0 or 1.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archive_builder.h"
#include "catalogue/catalogue_loader.h"
#include "confined_run.h"
#include "extract/payload_stream.h"
#include "process_runner.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

Bytes sampleArchive() { return readFile(OXTREL_SOURCE_DIR "/examples/sample.vrk"); }

// Where the payloads begin: everything before is the catalogue.
size_t catalogueEnd(const Bytes& archive) {
  Result<Catalogue> loaded = loadCatalogue(memoryFile(archive));
  size_t end = archive.size();
  for (const FileRecord& r : loaded->files) end = std::min<size_t>(end, r.offset);
  return end;
}

std::string report(const std::vector<std::string>& broken) {
  std::string text;
  for (const std::string& b : broken) text += "\n  " + b;
  return text;
}

void expectRulesKept(const Bytes& archive, bool plantLinks, const std::string& label) {
  RunSite site;
  prepareSite(site, archive, false, plantLinks);
  std::vector<std::string> broken = checkRun(site, archive, extractInProcess(site, archive));
  ASSERT_TRUE(broken.empty()) << label << report(broken);
}

TEST(HostileInput, TheIntactSampleExtractsCleanly) {
  Bytes archive = sampleArchive();
  RunSite site;
  prepareSite(site, archive, false, false);
  RunOutcome outcome = extractInProcess(site, archive);
  EXPECT_EQ(outcome.status, 0) << outcome.console;
  EXPECT_TRUE(checkRun(site, archive, outcome).empty());
  EXPECT_GT(snapshotTree(site.runDir() + "/data").size(), 30u);
}

// Thousands of runs, split so that the test runner spreads them over the cores.
constexpr int kShards = 4;

struct HostileShard : ::testing::TestWithParam<int> {};

// Every other cut with every payload inflated piece by piece, as large ones are.
TEST_P(HostileShard, EveryCutKeepsTheRules) {
  Bytes archive = sampleArchive();
  const uint64_t usual = streamingThreshold;
  for (size_t cut = size_t(GetParam()); cut < archive.size(); cut += kShards) {
    streamingThreshold = cut / kShards % 2 == 0 ? usual : 0;
    expectRulesKept(Bytes(archive.begin(), archive.begin() + ptrdiff_t(cut)), cut % 3 == 1, "cut at " + std::to_string(cut));
  }
  streamingThreshold = usual;
}

// One flip per byte; the mask turns with the position so every field meets small and large changes.
TEST_P(HostileShard, EveryFlippedCatalogueByteKeepsTheRules) {
  Bytes archive = sampleArchive();
  size_t end = catalogueEnd(archive);
  ASSERT_GT(end, 36u);
  const uint8_t masks[] = {0x01, 0xFF, 0x80, 0x20, 0x02};
  for (size_t at = size_t(GetParam()); at < end; at += kShards) {
    Bytes flipped = archive;
    flipped[at] ^= masks[at % std::size(masks)];
    expectRulesKept(flipped, at % 3 == 2, "byte " + std::to_string(at) + " xor " + std::to_string(masks[at % std::size(masks)]));
  }
}

INSTANTIATE_TEST_SUITE_P(Sample, HostileShard, ::testing::Range(0, kShards));

// The fuzzers' seeds, crafted to go through links, up and out, over directories and under files.
TEST(HostileInput, EverySeedOfTheWholeRunFuzzerKeepsTheRules) {
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(OXTREL_SOURCE_DIR "/fuzz/corpus/extraction")) {
    Bytes archive = readFile(entry.path().string());
    const uint64_t usual = streamingThreshold;
    for (bool plantLinks : {false, true}) {
      streamingThreshold = plantLinks ? 0 : usual;  // streamed, as large payloads are
      expectRulesKept(archive, plantLinks, entry.path().filename().string());
    }
    streamingThreshold = usual;
    ++seeds;
  }
  EXPECT_GE(seeds, 5u);
}

// The same rules through the binary, for a few of those archives: its own process, its own exit.
TEST(HostileInput, TheBinaryKeepsTheRulesToo) {
  Bytes archive = sampleArchive();
  size_t end = catalogueEnd(archive);
  std::vector<std::pair<std::string, Bytes>> cases = {{"intact", archive}};
  for (size_t cut : {size_t(0), size_t(20), end - 3, end + 7, archive.size() - 1})
    cases.push_back({"cut at " + std::to_string(cut), Bytes(archive.begin(), archive.begin() + ptrdiff_t(cut))});
  for (size_t at : {size_t(16), size_t(40), end - 2}) {
    Bytes flipped = archive;
    flipped[at] ^= 0xFF;
    cases.push_back({"byte " + std::to_string(at) + " inverted", flipped});
  }
  for (const auto& [label, bytes] : cases) {
    for (bool plantLinks : {false, true}) {
      RunSite site;
      prepareSite(site, bytes, true, plantLinks);
      ProcessResult r = runOxtrel({kSiteArchiveName}, site.runDir());
      EXPECT_EQ(r.signal, 0) << label;
      EXPECT_EQ(r.err, "") << label;
      std::vector<std::string> broken = checkRun(site, bytes, {r.exitStatus, r.out});
      EXPECT_TRUE(broken.empty()) << label << report(broken);
    }
  }
}

}  // namespace
}  // namespace oxtrel
