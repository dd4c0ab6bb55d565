// Entries whose paths the file system takes as one file: where it folds letter case (Windows),
// folders spelled "Dir", "dir" and "DIR" are one folder. The parallel write order must take them
// as one path there too, so every job count gives the same lines and tree as one job.

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "archive_builder.h"
#include "platform/platform.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel::testing {
namespace {

constexpr int kFiles = 24;
const char* const kSpellings[] = {"Dir", "dIr", "DIR", "dir"};

std::string folded(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(NameSpelling, PathsTheFileSystemTakesAsOneGiveTheSameRunForEveryJobCount) {
  std::string one, other;
  const bool foldsCase = platform::nameKey("Dir", one) == platform::nameKey("dir", other);
  TestArchive archive;
  for (const char* spelling : kSpellings) {
    TestFolder folder{spelling};
    for (int i = 0; i < kFiles; ++i) {
      std::string number = std::to_string(i), contents = spelling;
      contents.append(number);
      folder.files.push_back({"f" + number + ".txt", bytesOf(contents)});
    }
    // A file where a later spelling needs a directory, on a case-folding system.
    if (spelling == std::string("dIr")) folder.files.push_back({"sub", bytesOf("a file")});
    archive.folders.push_back(std::move(folder));
  }
  archive.folders.push_back({"DIR\\SUB", {}, {}, {}, {{"inside.txt", bytesOf("inside")}}});

  ScratchDir dir;
  std::string firstOut;
  int firstStatus = -1;
  std::map<std::string, std::string> firstTree;
  for (const char* jobs : {"1", "4", "9"}) {
    ScratchDir run(dir.path);
    writeFile(run / "a.vrk", buildArchive(archive));
    ProcessResult r = runOxtrel({"-j", jobs, "a.vrk"}, run.path);
    std::map<std::string, std::string> tree = snapshotTree(run / "data");
    if (jobs == std::string("1")) {
      firstOut = r.out, firstStatus = r.exitStatus, firstTree = tree;
      continue;
    }
    EXPECT_EQ(r.out, firstOut) << "-j " << jobs;
    EXPECT_EQ(r.exitStatus, firstStatus) << "-j " << jobs;
    EXPECT_EQ(tree, firstTree) << "-j " << jobs;
  }

  std::set<std::string> spellings;
  for (const auto& [path, contents] : firstTree) spellings.insert(folded(path));
  if (!foldsCase) {
    EXPECT_EQ(firstStatus, 0) << firstOut;
    EXPECT_EQ(firstTree.size(), 5 + 4 * kFiles + 2u);  // each spelling and DIR/SUB, their files
    return;
  }
  // One folder: each file is the last spelling's, as a repeated path leaves it; "sub" is a file
  // there, so the folder below it cannot be made.
  EXPECT_EQ(spellings.size(), firstTree.size());
  EXPECT_EQ(firstTree.size(), 1 + kFiles + 1u);
  EXPECT_EQ(firstStatus, 1);
  EXPECT_NE(firstOut.find("Error: cannot write data\\DIR\\SUB\\inside.txt: Not a directory"), std::string::npos)
      << firstOut;
  for (const auto& [path, contents] : firstTree) {
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    if (name.starts_with("f")) {
      EXPECT_EQ(contents, "dir" + name.substr(1, name.size() - 5)) << path;
    }
  }
}

}  // namespace
}  // namespace oxtrel::testing
