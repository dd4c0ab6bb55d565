// The command line's modes as a user meets them: listing, JSON, testing, patterns, streaming,
// keeping files, another directory, and standard output that cannot be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "archive_builder.h"
#include "catalogue/name_hash.h"
#include "process_runner.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

const std::string kUsage = "Usage: oxtrel [OPTION]... <vrkfile> [PATTERN]...\n";

// Folders and names a pattern can tell apart, one with control bytes and one that is not UTF-8.
TestArchive sampleArchive(bool compressed) {
  auto payload = [&](std::string_view text) { return compressed ? compressedPayload(bytesOf(text)) : bytesOf(text); };
  TestArchive a;
  if (compressed) a.header.archiveFlags = kCompressedFlag;
  a.folders = {
      {.name = "meshes", .files = {{.name = "rock.nif", .payload = payload("ROCK")},
                                   {.name = "Tree.NIF", .payload = payload("TREE")}}},
      {.name = "meshes\\props", .files = {{.name = "crate.nif", .payload = payload("CRATE")}}},
      {.name = "ui\x1b[2J", .files = {{.name = "a\nb.dds", .payload = payload("AB")},
                                      {.name = "lost", .hash = NameHash{1, 2, 3, 4, 5, 6, 7, 8}}}},
      {.name = "", .files = {{.name = "caf\xe9.wav", .payload = payload("CAFE")},
                             {.name = "far.txt", .payload = payload("FAR"), .offset = 0xFFFFFF00}}},
  };
  return a;
}

std::set<std::string> filesBelowData(const std::string& root) {
  std::set<std::string> files;
  for (const auto& [key, contents] : snapshotTree(root))
    if (key.starts_with("data/") && !key.ends_with("/")) files.insert(key.substr(5));
  return files;
}

TEST(CliModes, ListShowsSizesPathsAndTotalsAndWritesNothing) {
  ScratchDir dir;
  TestArchive archive = sampleArchive(true);
  writeFile(dir / "a.vrk", buildArchive(archive));
  ProcessResult r = runOxtrel({"-l", "a.vrk"}, dir.path);
  EXPECT_EQ(r.exitStatus, 1);  // the unmatched record's Warning line
  auto stored = [&](size_t folder, size_t file) {
    return std::to_string(archive.folders[folder].files[file].payload.size());
  };
  auto line = [](const std::string& size, const std::string& unpacked, const std::string& path) {
    return std::string(10 - size.size(), ' ') + size + " " + std::string(10 - unpacked.size(), ' ') + unpacked +
           "  " + path + "\n";
  };
  uint64_t total = 0;
  for (auto [f, j] : {std::pair<size_t, size_t>{0, 0}, {0, 1}, {1, 0}, {2, 0}, {3, 0}, {3, 1}}) total += std::stoul(stored(f, j));
  std::string expected = line(stored(0, 0), "4", "data\\meshes\\rock.nif") +
                         line(stored(0, 1), "4", "data\\meshes\\Tree.NIF") +
                         line(stored(1, 0), "5", "data\\meshes\\props\\crate.nif") +
                         line(stored(2, 0), "2", "data\\ui\\x1b[2J\\a\\x0ab.dds") +
                         "Warning!!! File 1 in dir ui\\x1b[2J no found\n" +
                         line(stored(3, 0), "4", "data\\\\caf\xe9.wav") + line(stored(3, 1), "-", "data\\\\far.txt") +
                         line(std::to_string(total), "19", "6 entries");  // stored, unpacked, count
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);

  // Extraction prints names the same way: no raw control byte reaches the terminal.
  ProcessResult extracted = runOxtrel({"a.vrk"}, dir.path);
  EXPECT_NE(extracted.out.find(" data\\ui\\x1b[2J\\a\\x0ab.dds\n"), std::string::npos) << extracted.out;
  EXPECT_NE(extracted.out.find("Warning!!! File 1 in dir ui\\x1b[2J no found\n"), std::string::npos);
  EXPECT_EQ(std::count(extracted.out.begin(), extracted.out.end(), '\x1b'), 0);
  EXPECT_EQ(snapshotTree(dir.path)["data/ui\x1b[2J/a\nb.dds"], "AB");
}

TEST(CliModes, JsonIsOneValidObjectPerRecordWithRawBytesWhereNotUtf8) {
  for (bool compressed : {false, true}) {
    ScratchDir dir;
    TestArchive archive = sampleArchive(compressed);
    writeFile(dir / "a.vrk", buildArchive(archive));
    ProcessResult r = runOxtrel({"--list", "--json", "a.vrk"}, dir.path);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Warning!!! File 1 in dir ui\\x1b[2J no found\n");
    std::vector<nlohmann::json> records;
    std::istringstream lines(r.out);
    for (std::string text; std::getline(lines, text);) records.push_back(nlohmann::json::parse(text));  // throws on bad JSON or UTF-8
    ASSERT_EQ(records.size(), 7u);

    EXPECT_EQ(records[0]["folder"], "meshes");
    EXPECT_EQ(records[0]["name"], "rock.nif");
    EXPECT_EQ(records[0]["path"], "meshes/rock.nif");
    NameHash h = hashFileName("rock.nif");
    char hex[17];
    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x%02x%02x%02x%02x", h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7]);
    EXPECT_EQ(records[0]["hash"], hex);
    EXPECT_EQ(records[0]["size"], archive.folders[0].files[0].payload.size());
    EXPECT_EQ(records[2]["path"], "meshes/props/crate.nif");
    EXPECT_EQ(records[3]["folder"], "ui\x1b[2J");
    EXPECT_EQ(records[3]["name"], "a\nb.dds");
    EXPECT_TRUE(records[4]["name"].is_null());
    EXPECT_TRUE(records[4]["path"].is_null());
    EXPECT_EQ(records[4]["hash"], "0102030405060708");
    EXPECT_EQ(records[5]["name"], "caf\xef\xbf\xbd.wav");
    EXPECT_EQ(records[5]["name_hex"], "636166e92e776176");
    EXPECT_EQ(records[5]["path"], "caf\xef\xbf\xbd.wav");
    EXPECT_EQ(records[5]["folder"], "");
    EXPECT_FALSE(records[0].contains("name_hex"));
    EXPECT_EQ(records[6]["offset"], 0xFFFFFF00u);
    if (compressed) {
      EXPECT_EQ(records[0]["unpacked_size"], 4);
      EXPECT_TRUE(records[6]["unpacked_size"].is_null());
    } else {
      for (const nlohmann::json& record : records) EXPECT_FALSE(record.contains("unpacked_size"));
    }
    EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
  }
}

// Paths alone, as Entry.path has them, for scripts: an unnamed record has none (its Warning line
// goes to standard error), control bytes are escaped as on every line, and nothing is written.
TEST(CliModes, NamesListsThePathsAloneOnePerLine) {
  ScratchDir dir;
  writeFile(dir / "a.vrk", buildArchive(sampleArchive(true)));
  const std::string all =
      "meshes/rock.nif\nmeshes/Tree.NIF\nmeshes/props/crate.nif\nui\\x1b[2J/a\\x0ab.dds\ncaf\xe9.wav\nfar.txt\n";
  const std::string warning = "Warning!!! File 1 in dir ui\\x1b[2J no found\n";
  struct Case {
    std::vector<std::string> args;
    std::string out, err;
    int status;
  };
  const std::vector<Case> cases = {
      {{"-l", "--names", "a.vrk"}, all, warning, 1},
      {{"--names", "a.vrk"}, all, warning, 1},
      {{"a.vrk", "--names", "-l", "-x", "meshes"}, "ui\\x1b[2J/a\\x0ab.dds\ncaf\xe9.wav\nfar.txt\n", warning, 1},
      {{"--names", "a.vrk", "*.NIF", "none"}, "meshes/rock.nif\nmeshes/Tree.NIF\nmeshes/props/crate.nif\n",
       "Error: no entry matches none\n", 1},
  };
  for (const Case& c : cases) {
    ProcessResult r = runOxtrel(c.args, dir.path);
    EXPECT_EQ(r.out, c.out) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err, c.err) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.exitStatus, c.status) << ::testing::PrintToString(c.args);
  }
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

TEST(CliModes, PatternsSelectByPathBelowData) {
  ScratchDir src;
  TestArchive archive = sampleArchive(false);
  archive.folders.resize(2);  // every record named and in range
  writeFile(src / "a.vrk", buildArchive(archive));
  struct Case {
    std::vector<std::string> args;
    std::set<std::string> files;
    int status;
    std::string out;  // a line the console must hold
  };
  const std::vector<Case> cases = {
      {{"meshes/*"}, {"meshes/rock.nif", "meshes/Tree.NIF", "meshes/props/crate.nif"}, 0, ""},
      {{"meshes/*.nif"}, {"meshes/rock.nif", "meshes/Tree.NIF"}, 0, ""},
      {{"meshes/**"}, {"meshes/rock.nif", "meshes/Tree.NIF", "meshes/props/crate.nif"}, 0, ""},
      {{"**/*.NIF"}, {"meshes/rock.nif", "meshes/Tree.NIF", "meshes/props/crate.nif"}, 0, ""},
      {{"MESHES/TREE.nif"}, {"meshes/Tree.NIF"}, 0, ""},
      {{"meshes/**", "-x", "**/t*"}, {"meshes/rock.nif", "meshes/props/crate.nif"}, 0, ""},
      {{"--exclude=meshes/props/*"}, {"meshes/rock.nif", "meshes/Tree.NIF"}, 0, ""},
      {{"m*/r?ck.nif", "*.dds"}, {"meshes/rock.nif"}, 1, "Error: no entry matches *.dds\n"},
      {{"rock.nif"}, {"meshes/rock.nif"}, 0, ""},
      {{"/rock.nif"}, {}, 1, "Error: no entry matches /rock.nif\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::vector<std::string> args{src / "a.vrk"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = runOxtrel(args, dir.path);
    std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.exitStatus, c.status) << label;
    EXPECT_EQ(filesBelowData(dir.path), c.files) << label;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << label << "\n" << r.out;
    // Selected entries only: one entry line each, and the error line when one is due.
    EXPECT_EQ(size_t(std::count(r.out.begin(), r.out.end(), '\n')), c.files.size() + (c.out.empty() ? 0 : 1)) << label;
  }
}

TEST(CliModes, TestModeFindsADamagedStreamAndWritesNothing) {
  ScratchDir dir;
  TestArchive archive = sampleArchive(true);
  archive.folders.resize(2);
  writeFile(dir / "good.vrk", buildArchive(archive));
  archive.folders[0].files[1].payload.back() ^= 1;  // the Adler-32 no longer matches
  writeFile(dir / "bad.vrk", buildArchive(archive));
  ProcessResult good = runOxtrel({"-t", "good.vrk"}, dir.path);
  EXPECT_EQ(good.exitStatus, 0);
  EXPECT_EQ(std::count(good.out.begin(), good.out.end(), '\n'), 3);
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
  ProcessResult extracted = runOxtrel({"bad.vrk"}, dir.path);
  std::map<std::string, std::string> before = snapshotTree(dir.path);
  ProcessResult tested = runOxtrel({"--test", "bad.vrk"}, dir.path);
  EXPECT_EQ(tested.exitStatus, 1);
  EXPECT_EQ(tested.out, extracted.out);  // the lines an extraction prints, the Error line included
  EXPECT_NE(tested.out.find("Error unpack at"), std::string::npos);
  EXPECT_EQ(snapshotTree(dir.path), before);
}

TEST(CliModes, ToStdoutWritesTheSelectedContentsInTableOrder) {
  ScratchDir dir;
  TestArchive archive = sampleArchive(true);
  archive.folders.resize(2);
  Bytes big(600 * 1024);  // larger than the read-ahead window, stored: copied in blocks
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7 + i / 1000);
  TestArchive stored = sampleArchive(false);
  stored.folders.resize(1);
  stored.folders[0].files.push_back({.name = "big.bin", .payload = big});
  writeFile(dir / "c.vrk", buildArchive(archive));
  writeFile(dir / "s.vrk", buildArchive(stored));

  ProcessResult r = runOxtrel({"-O", "c.vrk", "**/crate.nif", "meshes/rock.nif"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "ROCKCRATE");
  EXPECT_NE(r.err.find("data\\meshes\\props\\crate.nif\n"), std::string::npos);
  ProcessResult s = runOxtrel({"--to-stdout", "s.vrk", "-x", "**/tree.nif"}, dir.path);
  EXPECT_EQ(s.exitStatus, 0);
  EXPECT_EQ(s.out, "ROCK" + std::string(big.begin(), big.end()));
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);
}

TEST(CliModes, KeepExistingLeavesFilesAloneAndDirectoryMovesTheTree) {
  ScratchDir dir;
  TestArchive archive = sampleArchive(false);
  archive.folders.resize(2);
  writeFile(dir / "a.vrk", buildArchive(archive));
  ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
  writeTree(dir / "out", {{"data/meshes/rock.nif", "MINE"}});

  ProcessResult r = runOxtrel({"-k", "-C", "out", "a.vrk"}, dir.path);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find(" data\\meshes\\rock.nif\nKept existing data\\meshes\\rock.nif\n"), std::string::npos);
  std::map<std::string, std::string> tree = snapshotTree(dir / "out");
  EXPECT_EQ(tree["data/meshes/rock.nif"], "MINE");
  EXPECT_EQ(tree["data/meshes/Tree.NIF"], "TREE");
  EXPECT_EQ(snapshotTree(dir.path).count("data/"), 0u);

  ProcessResult replaced = runOxtrel({"--directory=out", "-q", "a.vrk"}, dir.path);
  EXPECT_EQ(replaced.exitStatus, 0);
  EXPECT_EQ(replaced.out, "");
  EXPECT_EQ(snapshotTree(dir / "out")["data/meshes/rock.nif"], "ROCK");

  // A missing directory is made with its parents, only by an extraction of an archive that opens;
  // anything else standing there is refused as before.
  writeFile(dir / "file", bytesOf("F"));
  writeFile(dir / "x.gz", {0x1f, 0x8b, 8, 0, 0, 0, 0, 0});
  const std::vector<std::pair<std::vector<std::string>, std::string>> directories = {
      {{"-C", "new/er/est", "a.vrk"}, ""},
      {{"-C", "file", "a.vrk"}, "cannot open directory file: Not a directory\n"},
      {{"-C", "file/below", "a.vrk"}, "cannot open directory file/below: Not a directory\n"},
      {{"-t", "-C", "tested", "a.vrk"}, "cannot open directory tested: No such file or directory\n"},
      {{"-C", "never", "x.gz"}, "Error: x.gz is not a .vrk archive (it looks like a gzip file)\n"},
  };
  for (const auto& [args, printed] : directories) {
    ProcessResult run = runOxtrel(args, dir.path);
    EXPECT_EQ(run.exitStatus, printed.empty() ? 0 : 1) << args[1];
    EXPECT_EQ(printed.empty() ? "" : run.out, printed);
  }
  std::map<std::string, std::string> made = snapshotTree(dir.path);
  EXPECT_EQ(made["new/er/est/data/meshes/rock.nif"], "ROCK");
  EXPECT_EQ(made.count("tested/") + made.count("never/"), 0u);
}

TEST(CliModes, KeepExistingKeepsOnlyFilesAndLinks) {
  // What stands where each entry goes, and what -k makes of it, on one thread and on several.
  ScratchDir dir;
  TestArchive archive;
  archive.folders = {{.name = "m", .files = {{.name = "file.nif", .payload = bytesOf("1")},
                                             {.name = "link.nif", .payload = bytesOf("2")},
                                             {.name = "dir.nif", .payload = bytesOf("3")},
                                             {.name = "fifo.nif", .payload = bytesOf("4")},
                                             {.name = "new.nif", .payload = bytesOf("5")}}}};
  writeFile(dir / "a.vrk", buildArchive(archive));
  for (const char* jobs : {"1", "3"}) {
    std::filesystem::remove_all(dir / "data");
    writeTree(dir.path, {{"data/m/file.nif", "MINE"}, {"data/m/dir.nif/inside", "x"}});
    ASSERT_EQ(symlink("file.nif", (dir / "data/m/link.nif").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "data/m/fifo.nif").c_str(), 0644), 0);
    ProcessResult r = runOxtrel({"-k", "-j", jobs, "a.vrk"}, dir.path);
    EXPECT_EQ(r.exitStatus, 1) << jobs;
    EXPECT_EQ(r.out,
              "      b2        1 data\\m\\file.nif\nKept existing data\\m\\file.nif\n"
              "      b3        1 data\\m\\link.nif\nKept existing data\\m\\link.nif\n"
              "      b4        1 data\\m\\dir.nif\nError: cannot write data\\m\\dir.nif: Is a directory\n"
              "      b5        1 data\\m\\fifo.nif\nError: cannot write data\\m\\fifo.nif: File exists\n"
              "      b6        1 data\\m\\new.nif\n")
        << jobs;
    std::map<std::string, std::string> tree = snapshotTree(dir / "data");
    EXPECT_EQ(tree["m/file.nif"], "MINE");
    EXPECT_EQ(tree["m/link.nif"], "-> file.nif");
    EXPECT_EQ(tree["m/dir.nif/inside"], "x");
    EXPECT_EQ(tree["m/fifo.nif"], "(special)");
    EXPECT_EQ(tree["m/new.nif"], "5");
  }
}

TEST(CliModes, StandardOutputThatCannotBeWrittenIsAnError) {
  ScratchDir dir;
  TestArchive archive = sampleArchive(false);
  archive.folders.resize(2);
  writeFile(dir / "a.vrk", buildArchive(archive));
  auto toFull = [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); };
  auto closed = [] { close(STDOUT_FILENO); };
  struct Case {
    bool pack;
    std::vector<std::string> args;
    std::function<void()> stdoutSetup;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {false, {"a.vrk"}, toFull, "No space left on device"},
      {false, {"a.vrk"}, closed, "Bad file descriptor"},
      {false, {"--version"}, toFull, "No space left on device"},
      {false, {"-l", "a.vrk"}, closed, "Bad file descriptor"},
      {false, {"--names", "a.vrk"}, toFull, "No space left on device"},
      {false, {"-O", "a.vrk"}, toFull, "No space left on device"},
      {true, {"b.vrk", "data"}, toFull, "No space left on device"},
      {true, {"--help"}, closed, "Bad file descriptor"},
  };
  for (const Case& c : cases) {
    ScratchDir run;
    writeFile(run / "a.vrk", buildArchive(archive));
    writeTree(run.path, {{"data/x.txt", "x"}});
    std::string label = ::testing::PrintToString(c.args);
    ProcessResult r = c.pack ? runPack(c.args, run.path, c.stdoutSetup) : runOxtrel(c.args, run.path, c.stdoutSetup);
    EXPECT_EQ(r.exitStatus, 1) << label;
    std::string program = c.pack ? "oxtrel-pack" : "oxtrel";
    EXPECT_NE(r.err.find(program + ": cannot write standard output: " + c.reason + "\n"), std::string::npos)
        << label << ": " << r.err;
    std::map<std::string, std::string> tree = snapshotTree(run.path);
    if (c.args[0] == "a.vrk") {
      EXPECT_EQ(tree["data/meshes/props/crate.nif"], "CRATE") << label;  // the extraction still completed
    }
    if (c.args[0] == "b.vrk") {
      EXPECT_EQ(tree.count("b.vrk"), 1u) << label;
    }
  }
}

TEST(CliModes, HelpUsageErrorsAndArgumentsThatLookLikeOptions) {
  ScratchDir dir;
  writeFile(dir / "-x.vrk", buildArchive(sampleArchive(false)));
  ProcessResult help = runOxtrel({"--help"}, dir.path);
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.out.starts_with(kUsage));
  for (const char* option : {"--list", "--json", "--names", "--test", "--directory", "--exclude", "--to-stdout",
                             "--keep-existing", "--quiet", "--progress", "--no-progress", "--version", "Exit status"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;

  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
      {{"--frobnicate", "a.vrk"}, "oxtrel: unknown option '--frobnicate'\n"},
      {{"-lZ", "a.vrk"}, "oxtrel: unknown option '-Z'\n"},
      {{"a.vrk", "-C"}, "oxtrel: -C needs a value\n"},
      {{"-O", "-l", "a.vrk"}, "oxtrel: --to-stdout and --list cannot go together\n"},
      {{"--json", "-t", "-l", "a.vrk"}, "oxtrel: --test and --list cannot go together\n"},
      {{"--names", "--json", "a.vrk"}, "oxtrel: --names and --json cannot go together\n"},
      {{"-l", "--json", "--names", "a.vrk"}, "oxtrel: --names and --json cannot go together\n"},
      {{"-O", "--names", "a.vrk"}, "oxtrel: --names and --to-stdout cannot go together\n"},
      {{"--names", "--extract", "a.vrk"}, "oxtrel: --names and --extract cannot go together\n"},
      {{"-q"}, "oxtrel: no archive given\n"},
      // Each option named as it was written, whatever the option's internal code.
      {{"--json=1", "a.vrk"}, "oxtrel: option '--json=1': --json takes no value\n"},
      {{"--progress=1", "a.vrk"}, "oxtrel: option '--progress=1': --progress takes no value\n"},
      {{"--li=1", "a.vrk"}, "oxtrel: option '--li=1': --list takes no value\n"},
      {{"--j", "2", "a.vrk"}, "oxtrel: ambiguous option '--j': --json, --jobs\n"},
      {{"a.vrk", "--frob=x"}, "oxtrel: unknown option '--frob=x'\n"},
      {{"-q", "-Zl", "a.vrk"}, "oxtrel: unknown option '-Z'\n"},
      {{"-lC"}, "oxtrel: -C needs a value\n"},
      {{"a.vrk", "--dir"}, "oxtrel: --dir needs a value\n"},
      {{"-C", "", "a.vrk"}, "oxtrel: -C needs a directory, not an empty name\n"},
      {{"--directory=", "a.vrk"}, "oxtrel: --directory needs a directory, not an empty name\n"},
      {{"-lC", "", "a.vrk"}, "oxtrel: -C needs a directory, not an empty name\n"},
  };
  for (const auto& [args, why] : wrong) {
    ProcessResult r = runOxtrel(args, dir.path);
    EXPECT_EQ(r.exitStatus, 2) << why;
    EXPECT_EQ(r.err, why + kUsage);
    EXPECT_EQ(r.out, "");
  }
  ProcessResult dashed = runOxtrel({"-lq", "--", "-x.vrk", "**/rock.nif"}, dir.path);
  EXPECT_EQ(dashed.exitStatus, 0);
  EXPECT_NE(dashed.out.find("data\\meshes\\rock.nif\n"), std::string::npos);
  EXPECT_EQ(runOxtrel({"./-x.vrk", "-l", "**/rock.nif"}, dir.path).out, dashed.out);

  // Options after the archive mean the same whatever the environment: an exclude never turns
  // into a pattern that selects.
  auto posixly = [] { setenv("POSIXLY_CORRECT", "1", 1); };
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"./-x.vrk", "-l", "-x", "**/rock.nif"}, {"./-x.vrk", "**/*.nif", "-q", "-l"},
        {"-l", "--", "-x.vrk", "-x", "**/rock.nif"}}) {
    ProcessResult plain = runOxtrel(args, dir.path);
    ProcessResult posix = runOxtrel(args, dir.path, posixly);
    EXPECT_EQ(posix.exitStatus, plain.exitStatus) << ::testing::PrintToString(args);
    EXPECT_EQ(posix.out, plain.out) << ::testing::PrintToString(args);
    EXPECT_EQ(posix.err, plain.err) << ::testing::PrintToString(args);
  }
  ProcessResult excluded = runOxtrel({"./-x.vrk", "-l", "-x", "**/rock.nif"}, dir.path, posixly);
  EXPECT_EQ(excluded.out.find("rock.nif"), std::string::npos) << excluded.out;
  EXPECT_NE(excluded.out.find("Tree.NIF"), std::string::npos) << excluded.out;
}

}  // namespace
}  // namespace oxtrel
