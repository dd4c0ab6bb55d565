// The selection rules on the shared table (tests/data/selection_cases.json, also read by the
// Python tests) through the library and through the program, and the folder-at-a-time selection
// against the rules applied to each path alone on random trees.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#include <oxtrel/archive.h>

#include "archive_builder.h"
#include "extract/entry_selection.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;
using Paths = std::multiset<std::string>;

struct SelectionCase {
  std::string why;
  std::vector<std::string> patterns, excludes, unused;
  Paths selected;
};

struct SelectionTable {
  std::vector<std::string> tree;
  std::vector<SelectionCase> cases;
};

SelectionTable loadTable() {
  std::ifstream in(OXTREL_SOURCE_DIR "/tests/data/selection_cases.json");
  const nlohmann::json json = nlohmann::json::parse(in);
  SelectionTable table;
  table.tree = json["tree"].get<std::vector<std::string>>();
  for (const nlohmann::json& c : json["cases"]) {
    std::vector<std::string> selected = c["selected"].get<std::vector<std::string>>();
    table.cases.push_back({c["why"], c["patterns"], c["excludes"], c["unused"], Paths(selected.begin(), selected.end())});
  }
  return table;
}

// Each path's folder (its separators stored as '\') and name, folders in their first order.
TestArchive archiveOf(const std::vector<std::string>& paths) {
  TestArchive archive;
  for (const std::string& path : paths) {
    const size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
    std::replace(folder.begin(), folder.end(), '/', '\\');
    auto it = std::find_if(archive.folders.begin(), archive.folders.end(),
                           [&](const TestFolder& f) { return f.name == folder; });
    if (it == archive.folders.end()) it = archive.folders.insert(archive.folders.end(), TestFolder{.name = folder});
    it->files.push_back({.name = path.substr(slash + 1), .payload = bytesOf(path)});
  }
  return archive;
}

std::string label(const SelectionCase& c) {
  return c.why + ": " + ::testing::PrintToString(c.patterns) + " -x " + ::testing::PrintToString(c.excludes);
}

TEST(SelectionRules, TheSharedTableThroughMatchEntries) {
  const SelectionTable table = loadTable();
  ScratchDir dir;
  writeFile(dir / "t.vrk", buildArchive(archiveOf(table.tree)));
  Result<Archive> archive = openArchive(dir / "t.vrk");
  ASSERT_TRUE(archive.ok());
  for (const SelectionCase& c : table.cases) {
    EntryMatches matches = matchEntries(*archive, c.patterns, c.excludes);
    Paths got;
    for (size_t index : matches.indices) got.insert(entryAt(*archive, index).path);
    EXPECT_EQ(got, c.selected) << label(c);
    EXPECT_EQ(matches.unusedPatterns, c.unused) << label(c);
  }
}

// The names-only listing and an extraction select alike, and say which patterns went unused.
TEST(SelectionRules, TheSharedTableThroughTheProgram) {
  const SelectionTable table = loadTable();
  ScratchDir dir;
  writeFile(dir / "t.vrk", buildArchive(archiveOf(table.tree)));
  for (const SelectionCase& c : table.cases) {
    std::vector<std::string> options;
    for (const std::string& pattern : c.patterns) options.push_back(pattern);
    for (const std::string& exclude : c.excludes) options.insert(options.end(), {"-x", exclude});
    std::string unusedLines;
    for (const std::string& pattern : c.unused) unusedLines += "Error: no entry matches " + pattern + "\n";
    const int status = c.unused.empty() ? 0 : 1;

    std::vector<std::string> listArgs{"-l", "--names", dir / "t.vrk"};
    listArgs.insert(listArgs.end(), options.begin(), options.end());
    ProcessResult listed = runOxtrel(listArgs, dir.path);
    Paths lines;
    std::istringstream out(listed.out);
    for (std::string line; std::getline(out, line);) lines.insert(line);
    EXPECT_EQ(lines, c.selected) << label(c);
    EXPECT_EQ(listed.err, unusedLines) << label(c);
    EXPECT_EQ(listed.exitStatus, status) << label(c);

    ScratchDir into;
    std::vector<std::string> extractArgs{"-q", "-C", into.path, dir / "t.vrk"};
    extractArgs.insert(extractArgs.end(), options.begin(), options.end());
    ProcessResult extracted = runOxtrel(extractArgs, dir.path);
    Paths files;
    for (const auto& [key, contents] : snapshotTree(into.path)) {
      if (!key.starts_with("data/") || key.ends_with("/")) continue;
      files.insert(key.substr(5));
      EXPECT_EQ(contents, key.substr(5)) << label(c);
    }
    EXPECT_EQ(files, c.selected) << label(c);
    EXPECT_EQ(extracted.out, unusedLines) << label(c);
    EXPECT_EQ(extracted.exitStatus, status) << label(c);
  }
}

// Random trees (folders with empty components, names holding separators) and random patterns: the
// selection that matches each folder once agrees with selectsPath on every entry's whole path.
TEST(SelectionRules, FoldersMatchedOnceAgreeWithEachPathTakenAlone) {
  std::mt19937 rng(19);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  const std::vector<std::string> components = {"a", "b", "A", "ab", "x.d", "", "b.d"};
  const std::vector<std::string> pieces = {"a", "b", "/", "\\", "*", "**", "**/", "?", "[ab]", ".d", "x", "\\*"};
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> paths;
    TestArchive archive;
    for (size_t f = 1 + pick(4); f > 0; --f) {
      TestFolder folder;
      for (size_t depth = pick(4); depth > 0; --depth)
        folder.name += (folder.name.empty() && pick(2) ? "" : "\\") + components[pick(components.size())];
      for (size_t n = 1 + pick(3); n > 0; --n) {
        std::string name = components[pick(components.size() - 1)] + (pick(4) == 0 ? "\\b" : "") + std::to_string(n);
        folder.files.push_back({.name = name, .payload = bytesOf("p")});
      }
      archive.folders.push_back(folder);
    }
    ScratchDir dir;
    writeFile(dir / "r.vrk", buildArchive(archive));
    Result<Archive> opened = openArchive(dir / "r.vrk");
    ASSERT_TRUE(opened.ok());
    std::vector<std::string> includes, excludes;
    auto randomPattern = [&] {
      std::string pattern;
      for (size_t n = 1 + pick(4); n > 0; --n) pattern += pieces[pick(pieces.size())];
      return pattern;
    };
    for (size_t n = pick(3); n > 0; --n) includes.push_back(randomPattern());
    for (size_t n = pick(2); n > 0; --n) excludes.push_back(randomPattern());

    EntryMatches matches = matchEntries(*opened, includes, excludes);
    std::vector<size_t> expected;
    std::vector<uint8_t> used(includes.size(), 0);
    for (size_t i = 0; i < entryCount(*opened); ++i) {
      const Entry entry = entryAt(*opened, i);
      bool excluded = false, included = includes.empty();
      for (const std::string& exclude : excludes) {
        SelectionPattern compiled = compileSelectionPattern(exclude);
        excluded = excluded || selectsPath(compiled, entry.path);
      }
      for (size_t k = 0; k < includes.size() && !excluded; ++k) {
        SelectionPattern compiled = compileSelectionPattern(includes[k]);
        if (!selectsPath(compiled, entry.path)) continue;
        included = true;
        used[k] = 1;
      }
      if (included && !excluded) expected.push_back(i);
    }
    std::vector<std::string> unused;
    for (size_t k = 0; k < includes.size(); ++k)
      if (!used[k]) unused.push_back(includes[k]);
    const std::string what = ::testing::PrintToString(includes) + " -x " + ::testing::PrintToString(excludes);
    ASSERT_EQ(matches.indices, expected) << what;
    ASSERT_EQ(matches.unusedPatterns, unused) << what;
  }
}

}  // namespace
}  // namespace oxtrel
