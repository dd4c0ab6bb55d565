// Differential: payloads above the streaming threshold are inflated piece by piece, those below
// it whole. With the threshold lowered so that small entries stream, random archives full of
// damaged payloads must give the console bytes, exit status, tree and standard output of the
// whole-payload run, in every mode and at one thread and several, also where writes fail; only
// the directories made for a damaged entry's file, and a damaged entry's bytes before its fault
// on standard output, may differ.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <array>
#include <filesystem>
#include <random>

#include "archive_builder.h"
#include "cli/command_run.h"
#include "extract/payload_stream.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

// Payloads around and across the streamed decoder's input block; one in seven damaged.
TestArchive randomArchive(std::mt19937& rng, bool compressed, bool damage) {
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  TestArchive a;
  a.header.archiveFlags = compressed ? kCompressedFlag : 0;
  for (size_t f = 0; f < 3; ++f) {
    TestFolder folder{.name = "folder" + std::to_string(f)};
    for (size_t i = 0; i < 12; ++i) {
      const size_t size = pick(5) == 0 ? 100000 + pick(300000) : pick(3000);
      Bytes plain(size);
      const bool compressible = pick(2) == 0;
      for (size_t j = 0; j < size; ++j) plain[j] = uint8_t(compressible ? j / 13 + (j % 41 == 0 ? rng() : 0) : rng());
      TestFile file{.name = "e" + std::to_string(i) + ".bin"};
      file.payload = compressed ? compressedPayload(plain) : plain;
      if (damage && pick(7) == 0) {
        Bytes& p = file.payload;
        switch (pick(6)) {
          case 0: if (p.size() > 8) p[4 + pick(p.size() - 4)] ^= uint8_t(1 + pick(255)); break;
          case 1: p.resize(pick(p.size() + 1)); break;
          case 2: if (compressed) p = compressedPayload(plain, uint32_t(size / 2)); break;
          case 3: if (compressed) p = compressedPayload(plain, uint32_t(size + 1 + pick(1u << 30))); break;
          case 4: file.offset = 1u << 30; break;
          case 5: if (p.size() >= 6) p[4] = 0x78, p[5] = 0x9C; break;  // a stored one then looks packed
        }
      }
      folder.files.push_back(std::move(file));
    }
    a.folders.push_back(std::move(folder));
  }
  return a;
}

struct RunResult {
  int status = -1;
  std::string console;
  std::string contents;  // standard output, with -O
  std::map<std::string, std::string> tree;
};

std::string takeText(FILE* stream, char*& text, size_t& length) {
  std::fclose(stream);
  std::string out(text, length);
  std::free(text);
  return out;
}

RunResult runWith(const Bytes& archive, CommandMode mode, unsigned jobs, uint64_t threshold) {
  ScratchDir dir;
  writeFile(dir / "a.vrk", archive);
  // A file where folder2 goes, and a directory where a file of folder1 goes: their writes fail
  // (before and after the payload is decoded), and a payload's fault is still what is reported.
  std::filesystem::create_directories(dir / "data/folder1/e3.bin");
  writeFile(dir / "data/folder2", bytesOf("in the way"));
  char *lineText = nullptr, *contentText = nullptr;
  size_t lineLength = 0, contentLength = 0;
  FILE* lines = open_memstream(&lineText, &lineLength);
  FILE* contents = open_memstream(&contentText, &contentLength);
  Console console;
  console.lines = lines;
  CommandOptions options;
  options.directory = dir.path;
  options.jobs = jobs;
  options.mode = mode;
  const uint64_t usual = streamingThreshold.exchange(threshold);
  RunResult run;
  run.status = runCommand(dir / "a.vrk", "a.vrk", options, console, contents);
  streamingThreshold = usual;
  run.console = takeText(lines, lineText, lineLength);
  run.contents = takeText(contents, contentText, contentLength);
  std::filesystem::remove(dir / "a.vrk");
  run.tree = snapshotTree(dir.path);
  return run;
}

// The streamed run's tree less the directories it made for a damaged entry's file, which the
// whole-payload run never reaches (a payload's fault shows only once its file is being written).
std::map<std::string, std::string> lessEmptyDirectories(std::map<std::string, std::string> streamed,
                                                      const std::map<std::string, std::string>& whole) {
  for (bool removed = true; removed;) {
    removed = false;
    for (auto it = streamed.begin(); it != streamed.end(); ++it) {
      auto next = std::next(it);
      bool empty = next == streamed.end() || !next->first.starts_with(it->first);
      if (it->first.ends_with('/') && empty && !whole.contains(it->first)) {
        streamed.erase(it);
        removed = true;
        break;
      }
    }
  }
  return streamed;
}

TEST(StreamedExtraction, GivesTheWholePayloadResultInEveryModeAndJobCount) {
  std::mt19937 rng(20261209);
  const CommandMode modes[] = {CommandMode::extract, CommandMode::test, CommandMode::toStdout};
  for (int round = 0; round < 12; ++round) {
    const bool compressed = round % 4 != 3;
    // Streamed standard output has sent the bytes before a fault when it finds one, so the
    // rounds that compare it are left whole.
    const CommandMode mode = modes[size_t(round) % 3];
    const bool damage = mode != CommandMode::toStdout || round % 2 == 0;
    Bytes archive = buildArchive(randomArchive(rng, compressed, damage));
    const uint64_t threshold = std::array<uint64_t, 3>{0, 2000, 150000}[size_t(round / 3) % 3];
    const unsigned jobs = round % 2 == 0 ? 1 : 4;
    SCOPED_TRACE("round " + std::to_string(round) + ", threshold " + std::to_string(threshold));
    RunResult whole = runWith(archive, mode, jobs, UINT64_MAX);
    RunResult streamed = runWith(archive, mode, jobs, threshold);
    EXPECT_EQ(streamed.console, whole.console);
    EXPECT_EQ(streamed.status, whole.status);
    EXPECT_EQ(lessEmptyDirectories(streamed.tree, whole.tree), whole.tree);
    if (!damage) {
      EXPECT_EQ(streamed.contents, whole.contents);
    }
  }
}

}  // namespace
}  // namespace oxtrel
