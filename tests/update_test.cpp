// Updating an archive: the result extracts to the edited tree and is the archive a fresh pack of
// that tree gives; a refusal, a kill at any step or a full disk leaves the archive as it was.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <oxtrel/oxtrel.h>

#include "api/update_steps.h"
#include "confined_run.h"
#include "archive_edits.h"
#include "catalogue/name_hash.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

Tree extractedTree(const std::string& archivePath, const std::string& scratch) {
  Result<Archive> archive = openArchive(archivePath);
  EXPECT_TRUE(archive) << message(archive.error());
  std::filesystem::remove_all(scratch);
  std::filesystem::create_directories(scratch);
  Result<ExtractReport> report = extract(*archive, {.destination = scratch});
  EXPECT_TRUE(report && report->clean()) << archivePath;
  Tree tree;
  for (const auto& [path, contents] : snapshotTree(scratch))
    if (!path.ends_with('/')) tree[path.substr(std::string("data/").size())] = contents;
  return tree;
}

std::set<std::string> temporariesIn(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path().filename().string().starts_with(".oxtrel-pack-")) names.insert(entry.path().filename());
  return names;
}

// Two different names that share a hash cannot both be stored.
bool hasHashTwins(const Tree& tree) {
  std::map<NameHash, std::string> names;
  for (const auto& [path, contents] : tree) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    auto [it, fresh] = names.try_emplace(hashFileName(name), name);
    if (it->second != name) return true;
  }
  return false;
}

struct EntryShape {
  std::string folder, name;
  uint32_t storedSize;
  bool operator==(const EntryShape&) const = default;
};

std::vector<EntryShape> shapeOf(const std::string& archivePath, bool withSizes) {
  Result<Archive> archive = openArchive(archivePath);
  std::vector<EntryShape> shape;
  for (const Entry& entry : entries(*archive))
    shape.push_back({entry.folder, entry.name.value_or("?"), withSizes ? entry.storedSize : 0});
  return shape;
}

std::vector<std::string> selectedPaths(const std::string& archivePath, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return {};
  Result<Archive> archive = openArchive(archivePath);
  std::vector<std::string> paths;
  for (size_t index : matchEntries(*archive, patterns, {}).indices) paths.push_back(entryAt(*archive, index).path);
  return paths;
}

// Random archives (stored and compressed; made by the packer or with odd folder spellings) x
// random edit lists: the update extracts to the edited tree, and is what packing that tree
// gives: the same entries in the same order, byte for byte when every kept payload is one the
// packer would have made.
TEST(Update, DifferentialAgainstExtractEditAndPackAgain) {
  std::mt19937 rng(2112);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ScratchDir dir(fastScratchArea());  // every run flushes its archive to disk
    const bool compressed = round % 2 == 0;
    const bool packed = round % 4 >= 2;
    EditableArchive made = randomEditableArchive(rng, compressed);
    writeFile(dir / "old.vrk", made.bytes);
    Tree oldTree = extractedTree(dir / "old.vrk", dir / "x-old");
    if (packed) {
      std::filesystem::create_directories(dir / "x-old/data");
      ASSERT_TRUE(packDirectory(dir / "x-old/data", dir / "old.vrk", {.compress = compressed}));
      ASSERT_EQ(extractedTree(dir / "old.vrk", dir / "x-old"), oldTree);
    }
    const Bytes before = readFile(dir / "old.vrk");

    EditList edits = randomEdits(rng, oldTree);
    writeTree(dir / "edits", edits.files);
    const Tree expected = applyEdits(oldTree, selectedPaths(dir / "old.vrk", edits.removePatterns), edits);
    const bool inPlace = round % 3 != 0;
    const std::string result = inPlace ? dir / "old.vrk" : dir / "new.vrk";
    UpdateSettings settings{.directory = edits.files.empty() ? "" : dir / "edits",
                            .remove = edits.removePatterns,
                            .destination = inPlace ? "" : result,
                            .jobs = unsigned(1 + round % 3)};
    Result<UpdateSummary> summary = updateArchive(dir / "old.vrk", settings);

    if (hasHashTwins(expected)) {
      ASSERT_FALSE(summary);
      EXPECT_EQ(summary.error().kind, ErrorKind::nameCollision);
      EXPECT_EQ(readFile(dir / "old.vrk"), before);
      EXPECT_FALSE(std::filesystem::exists(dir / "new.vrk"));
      continue;
    }
    ASSERT_TRUE(summary) << message(summary.error());
    EXPECT_EQ(extractedTree(result, dir / "x-new"), expected);
    EXPECT_EQ(summary->fileCount, expected.size());
    if (!inPlace) {
      EXPECT_EQ(readFile(dir / "old.vrk"), before) << "--to leaves the archive alone";
    }
    EXPECT_TRUE(temporariesIn(dir.path).empty());

    // --diff of the old archive and the updated one prints exactly what the edit list changed.
    writeFile(dir / "before.vrk", before);
    std::string changes;
    for (const std::string& line : changeLines(oldTree, expected)) changes += line + "\n";
    ProcessResult diffed = runOxtrel({"--diff", "before.vrk", result}, dir.path);
    EXPECT_EQ(diffed.out, changes);
    EXPECT_EQ(diffed.exitStatus, changes.empty() ? 0 : 1) << diffed.err;

    writeTree(dir / "expected", expected);
    std::filesystem::create_directories(dir / "expected");
    ASSERT_TRUE(packDirectory(dir / "expected", dir / "fresh.vrk", {.compress = compressed}));
    EXPECT_EQ(shapeOf(result, !compressed), shapeOf(dir / "fresh.vrk", !compressed));
    if (packed || !compressed) {
      EXPECT_EQ(readFile(result), readFile(dir / "fresh.vrk"));
    }
  }
}

// Each refusal is one clear error before anything is written; broken entries are noted one by
// one, and --drop-broken leaves them out instead.
TEST(Update, RefusalsAndBrokenEntriesLeaveTheArchiveAsItWas) {
  const Bytes plain = bytesOf("some contents");
  const NameHash nobody = hashFileName("nobody.txt");
  struct Case {
    std::string what;
    TestArchive archive;
    std::map<std::string, std::string> tree;
    std::vector<std::string> remove;
    ErrorKind kind;
    size_t notes = 0;  // broken entries noted
  };
  auto stored = [](std::vector<TestFolder> folders, uint32_t flags = 0) {
    TestArchive archive;
    archive.folders = std::move(folders);
    archive.header.archiveFlags = flags;
    return archive;
  };
  const std::vector<Case> cases = {
      {"two names with one hash", stored({{.name = "tex", .files = {{"a.dds", plain}}}}), {{"Tex/A.DDS", "x"}}, {},
       ErrorKind::nameCollision},
      {"a '\\' in a name", stored({{.name = "tex", .files = {{"a.dds", plain}}}}), {{"tex/b\\c.dds", "x"}}, {},
       ErrorKind::unstorableName},
      {"a folder name over 254 bytes", stored({{.name = "tex", .files = {{"a.dds", plain}}}}),
       {{std::string(200, 'd') + "/" + std::string(60, 'e') + "/f.txt", "x"}}, {}, ErrorKind::folderNameTooLong},
      {"a file that is also a folder", stored({{.name = "tex", .files = {{"a.dds", plain}}}}), {{"tex", "x"}}, {},
       ErrorKind::invalidArgument},
      {"a pattern that removes nothing", stored({{.name = "tex", .files = {{"a.dds", plain}}}}), {}, {"nothing.here"},
       ErrorKind::notFound},
      {"an unmatched hash", stored({{.name = "tex", .files = {{"a.dds", plain}, {"b.nif", plain, nobody}}}}), {}, {"tex/a.dds"},
       ErrorKind::brokenEntries, 1},
      {"a payload outside the file",
       stored({{.name = "tex", .files = {{"a.dds", plain, {}, 4000, 100}, {"b.nif", plain}}}}), {{"c.kf", "x"}}, {},
       ErrorKind::brokenEntries, 1},
      {"a compressed payload with no stream",
       stored({{.name = "", .files = {{"a.dds", Bytes{5, 0, 0, 0, 'g', 'a', 'r', 'b', 'a', 'g', 'e'}},
                                      {"b.nif", compressedPayload(plain)}, {"e.wav", Bytes{0, 0, 0, 0}}}}},
              kCompressedFlag),
       {{"c.kf", "x"}}, {}, ErrorKind::brokenEntries, 1},
      {"a path that leaves data", stored({{.name = "../up", .files = {{"a.dds", plain}}}, {.name = "ok", .files = {{"b.nif", plain}}}}),
       {}, {"ok/b.nif"}, ErrorKind::brokenEntries, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const Bytes before = buildArchive(c.archive);
    writeFile(dir / "a.vrk", before);
    writeTree(dir / "tree", c.tree);
    std::filesystem::create_directories(dir / "tree");
    std::vector<std::string> notes;
    UpdateSettings settings{.directory = dir / "tree", .remove = c.remove};
    Result<UpdateSummary> summary = updateArchive(dir / "a.vrk", settings, [&](std::string_view note) {
      notes.emplace_back(note);
    });
    ASSERT_FALSE(summary);
    EXPECT_EQ(summary.error().kind, c.kind) << message(summary.error());
    EXPECT_EQ(message(summary.error()).find('\n'), std::string::npos);
    EXPECT_EQ(notes.size(), c.notes);
    EXPECT_EQ(readFile(dir / "a.vrk"), before);
    EXPECT_TRUE(temporariesIn(dir.path).empty());
    if (c.kind != ErrorKind::brokenEntries) continue;

    settings.dropBroken = true;
    notes.clear();
    summary = updateArchive(dir / "a.vrk", settings, [&](std::string_view note) { notes.emplace_back(note); });
    ASSERT_TRUE(summary) << message(summary.error());
    EXPECT_EQ(summary->dropped, c.notes);
    EXPECT_EQ(notes.size(), c.notes);
    Result<Archive> after = openArchive(dir / "a.vrk");
    Result<ExtractReport> checked = extract(*after, {.testOnly = true});
    EXPECT_TRUE(checked && checked->clean());
  }
}

// Past 4 GiB - 1 is refused from the sizes alone, before a byte is read or written.
TEST(Update, RefusesAnArchivePastFourGibibytes) {
  ScratchDir dir;
  TestArchive small;
  small.folders = {{.name = "", .files = {{"a.dds", bytesOf("abc")}}}};
  const Bytes before = buildArchive(small);
  writeFile(dir / "a.vrk", before);
  std::filesystem::create_directories(dir / "tree");
  writeFile(dir / "tree/huge.bin", {});
  if (truncate((dir / "tree/huge.bin").c_str(), 0xFFFFFFF0) != 0) GTEST_SKIP() << "no sparse files here";
  Result<UpdateSummary> summary = updateArchive(dir / "a.vrk", {.directory = dir / "tree"});
  ASSERT_FALSE(summary);
  EXPECT_EQ(summary.error().kind, ErrorKind::tooLarge);
  EXPECT_EQ(readFile(dir / "a.vrk"), before);
  EXPECT_TRUE(temporariesIn(dir.path).empty());
}

// A run killed at any step (and one whose disk fills) leaves the archive byte for byte as it
// was; the temporary a killed run leaves is removed by the next run, so none stays for good.
TEST(Update, KillAtEveryStepLeavesTheArchiveAsItWas) {
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "stored");
    ScratchDir dir;
    std::mt19937 rng(7);
    writeFile(dir / "a.vrk", randomEditableArchive(rng, compressed).bytes);
    const Bytes before = readFile(dir / "a.vrk");
    writeTree(dir / "tree", {{"tex/new.dds", std::string(300000, 'n')}, {"top.txt", "top"}});
    const UpdateSettings settings{.directory = dir / "tree", .jobs = 2};

    // Runs the update in a child that ends itself at step `killAt` (counted from 0).
    auto runKilledAt = [&](int killAt, rlim_t fileLimit) {
      pid_t child = fork();
      if (child == 0) {
        if (fileLimit != RLIM_INFINITY) {
          signal(SIGXFSZ, SIG_IGN);
          rlimit limit{fileLimit, fileLimit};
          setrlimit(RLIMIT_FSIZE, &limit);
        }
        int step = 0;
        Result<UpdateSummary> summary = updateArchiveStepping(dir / "a.vrk", settings, {}, [&](std::string_view) {
          if (step++ == killAt) raise(SIGKILL);
        });
        _exit(summary ? 0 : summary.error().kind == ErrorKind::cannotWrite ? 10 : 11);
      }
      int status = 0;
      waitpid(child, &status, 0);
      return status;
    };

    int steps = 0;
    for (;; ++steps) {
      int status = runKilledAt(steps, RLIM_INFINITY);
      if (WIFEXITED(status)) {  // every step was passed: the update completed
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(temporariesIn(dir.path).empty());
        break;
      }
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
      if (readFile(dir / "a.vrk") != before) {
        // Only a kill after the rename finds the new archive there, and it is whole.
        Result<Archive> after = openArchive(dir / "a.vrk");
        ASSERT_TRUE(after);
        EXPECT_TRUE(findEntry(*after, "tex/new.dds"));
        writeFile(dir / "a.vrk", before);
      }
      EXPECT_LE(temporariesIn(dir.path).size(), 1u) << "the next run sweeps the killed one's temporary";
    }
    EXPECT_GE(steps, 5);
    writeFile(dir / "a.vrk", before);

    int full = runKilledAt(-1, before.size() / 2);
    EXPECT_TRUE(WIFEXITED(full) && WEXITSTATUS(full) == 10) << full;
    EXPECT_EQ(readFile(dir / "a.vrk"), before);
    EXPECT_TRUE(temporariesIn(dir.path).empty());
  }
}

}  // namespace
}  // namespace oxtrel
