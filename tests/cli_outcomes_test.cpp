// The command line's JSON outcomes (--json with --test, --to-stdout and --extract), held against
// the console lines of the same runs.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "archive_builder.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

// A record for every outcome: a good one, a damaged stream, a path that climbs out, a hash that
// names nothing, a payload past the end, and one whose place a directory takes (extraction only).
Bytes troubledArchive() {
  TestArchive a;
  a.header.archiveFlags = kCompressedFlag;
  Bytes bad = compressedPayload(bytesOf("BAD"));
  bad.back() ^= 1;
  a.folders = {
      {.name = "meshes", .files = {{.name = "rock.nif", .payload = compressedPayload(bytesOf("ROCK"))},
                                   {.name = "bad.nif", .payload = bad}}},
      {.name = "..", .files = {{.name = "evil.txt", .payload = compressedPayload(bytesOf("EVIL"))}}},
      {.name = "ui", .files = {{.name = "lost", .payload = {}, .hash = NameHash{1, 2, 3, 4, 5, 6, 7, 8}}}},
      {.name = "", .files = {{.name = "far.txt", .payload = compressedPayload(bytesOf("FAR")), .offset = 0xFFFFFF00}}},
      {.name = "sub", .files = {{.name = "held.txt", .payload = compressedPayload(bytesOf("HELD"))}}},
  };
  return buildArchive(a);
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> objects;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

TEST(CliOutcomes, EachModeGivesOneObjectPerRecordAndTheLinesExitStatus) {
  struct Mode {
    std::vector<std::string> args;
    std::vector<std::string> outcomes;  // in table order: rock, bad, evil, lost, far, held
  };
  const std::vector<Mode> modes = {
      {{"--extract", "-C", "out"},
       {"written", "unpack failed", "unsafe path", "unmatched", "truncated payload", "cannot write"}},
      {{"-t"}, {"tested", "unpack failed", "unsafe path", "unmatched", "truncated payload", "tested"}},
      {{"-O"}, {"streamed", "unpack failed", "streamed", "unmatched", "truncated payload", "streamed"}},
  };
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.args.front());
    ScratchDir dir;
    writeFile(dir / "a.vrk", troubledArchive());
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    writeTree(dir / "out", {{"data/sub/held.txt/in-the-way", "x"}});
    std::vector<std::string> plainArgs = mode.args, jsonArgs = mode.args;
    plainArgs.push_back("a.vrk");
    jsonArgs.insert(jsonArgs.begin(), "--json");
    jsonArgs.push_back("a.vrk");
    ProcessResult plain = runOxtrel(plainArgs, dir.path);
    ProcessResult json = runOxtrel(jsonArgs, dir.path);
    EXPECT_EQ(json.exitStatus, 1);
    EXPECT_EQ(json.exitStatus, plain.exitStatus);

    bool streaming = mode.args.front() == "-O";
    // -O keeps its standard output for the contents: the objects go where its lines go.
    const std::string& objectsText = streaming ? json.err : json.out;
    EXPECT_EQ(streaming ? json.out : json.err, streaming ? plain.out : "");
    std::vector<nlohmann::json> objects = jsonLines(objectsText);
    ASSERT_EQ(objects.size(), mode.outcomes.size()) << objectsText;
    // The console lines give each record an entry or a Warning line; here each has one object.
    std::istringstream lines(streaming ? plain.err : plain.out);
    size_t recordLines = 0;
    for (std::string line; std::getline(lines, line);) recordLines += !line.starts_with("Error");
    EXPECT_EQ(recordLines, objects.size());
    const char* paths[] = {"meshes/rock.nif", "meshes/bad.nif", "../evil.txt", nullptr, "far.txt", "sub/held.txt"};
    for (size_t i = 0; i < objects.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(objects[i]["outcome"], mode.outcomes[i]);
      EXPECT_EQ(objects[i]["path"], paths[i] ? nlohmann::json(paths[i]) : nlohmann::json());
      EXPECT_EQ(objects[i].contains("error"), mode.outcomes[i] == "cannot write");
    }
    EXPECT_EQ(objects[0]["folder"], "meshes");
    EXPECT_EQ(objects[0]["name"], "rock.nif");
    EXPECT_EQ(objects[4]["offset"], 0xFFFFFF00u);
    EXPECT_EQ(objects[5].value("error", ""), mode.outcomes[5] == "cannot write" ? "Is a directory" : "");
  }
}

TEST(CliOutcomes, SelectionKeepingAndOptionOrderShowInTheObjects) {
  ScratchDir dir;
  writeFile(dir / "a.vrk", troubledArchive());
  ProcessResult first = runOxtrel({"--extract", "--json", "a.vrk", "meshes/rock.nif", "**/held.txt"}, dir.path);
  EXPECT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_EQ(first.err, "");
  std::vector<nlohmann::json> written = jsonLines(first.out);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0]["outcome"], "written");
  EXPECT_EQ(written[1]["path"], "sub/held.txt");
  EXPECT_EQ(snapshotTree(dir / "data")["sub/held.txt"], "HELD");

  ProcessResult kept = runOxtrel({"-k", "a.vrk", "--json", "--extract", "-q", "meshes/rock.nif"}, dir.path);
  EXPECT_EQ(kept.exitStatus, 0);
  std::vector<nlohmann::json> keptObjects = jsonLines(kept.out);
  ASSERT_EQ(keptObjects.size(), 1u);
  EXPECT_EQ(keptObjects[0]["outcome"], "kept");

  // Option order does not matter, and a pattern that selects nothing is a line on standard error.
  ProcessResult tested = runOxtrel({"-t", "--json", "a.vrk", "meshes/*", "nothing"}, dir.path);
  ProcessResult reordered = runOxtrel({"--json", "a.vrk", "meshes/*", "nothing", "--test"}, dir.path);
  EXPECT_EQ(tested.out, reordered.out);
  EXPECT_EQ(tested.exitStatus, 1);
  EXPECT_EQ(tested.err, "Error: no entry matches nothing\n");
  std::vector<nlohmann::json> testedObjects = jsonLines(tested.out);
  ASSERT_EQ(testedObjects.size(), 2u);
  EXPECT_EQ(testedObjects[1]["outcome"], "unpack failed");

  // A stored payload that starts like a compressed one is written, and flagged.
  TestArchive stored;
  stored.folders = {{.name = "f", .files = {{.name = "z.bin", .payload = {0, 0, 0, 0, 0x78, 0x9C, 1}}}}};
  writeFile(dir / "s.vrk", buildArchive(stored));
  std::vector<nlohmann::json> flagged = jsonLines(runOxtrel({"--json", "--extract", "s.vrk"}, dir.path).out);
  ASSERT_EQ(flagged.size(), 1u);
  EXPECT_EQ(flagged[0]["outcome"], "written");
  EXPECT_EQ(flagged[0]["possibly_packed"], true);

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--extract", "-l", "a.vrk"}, "oxtrel: --extract and --list cannot go together\n"},
      {{"-t", "--extract", "a.vrk"}, "oxtrel: --test and --extract cannot go together\n"},
  };
  for (const auto& [args, why] : refused) {
    ProcessResult r = runOxtrel(args, dir.path);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_TRUE(r.err.starts_with(why)) << r.err;
  }
}

}  // namespace
}  // namespace oxtrel
