// The public interface, used as a client would: archives packed from memory and from a tree,
// read back, searched, damaged on purpose, extracted, and read from several threads at once.

#include <oxtrel/oxtrel.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "allocation_probe.h"
#include "archive_builder.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::readFile;
using testing::ScratchDir;
using testing::snapshotTree;
using testing::writeFile;

Bytes filler(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + i / 251);
  return bytes;
}

struct Packed {
  std::map<std::string, Bytes> files;
  std::string archive;
};

Packed packSome(const ScratchDir& dir, bool compress) {
  Packed packed{{{"meshes/rock.nif", filler(3000, 1)},
                 {"textures/sky/Cloud.dds", filler(70000, 2)},
                 {"readme.txt", bytesOf("hello")},
                 {"textures/empty.dds", {}}},
                dir / "packed.vrk"};
  std::vector<PackInput> inputs;
  for (const auto& [path, bytes] : packed.files) inputs.push_back({path, bytes, {}});
  Result<PackSummary> summary = packEntries(inputs, packed.archive, {.compress = compress, .level = 6, .jobs = 2});
  EXPECT_TRUE(summary.ok()) << message(summary.error());
  EXPECT_EQ(summary->fileCount, 4u);
  EXPECT_EQ(summary->folderCount, 4u);
  return packed;
}

TEST(Api, PackedEntriesReadBackEqualStoredAndCompressed) {
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress);
    ScratchDir dir;
    Packed packed = packSome(dir, compress);
    Result<Archive> archive = openArchive(packed.archive);
    ASSERT_TRUE(archive.ok()) << message(archive.error());
    ASSERT_EQ(entries(*archive).size(), packed.files.size());
    for (const Entry& entry : entries(*archive)) {
      ASSERT_TRUE(entry.name.has_value());
      ASSERT_TRUE(packed.files.count(entry.path)) << entry.path;
      const Bytes& expected = packed.files[entry.path];
      EXPECT_EQ(entry.compressed, compress);
      if (compress) {
        EXPECT_EQ(entry.unpackedSize, expected.size());
      }
      Result<std::vector<uint8_t>> bytes = readEntry(*archive, entry);
      ASSERT_TRUE(bytes.ok()) << message(bytes.error());
      EXPECT_EQ(*bytes, expected) << entry.path;
    }
  }
}

TEST(Api, FindEntryFoldsCaseAndSeparators) {
  ScratchDir dir;
  Packed packed = packSome(dir, false);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  for (const char* path : {"textures/sky/Cloud.dds", "TEXTURES\\SKY\\cloud.DDS", "textures\\sky/cloud.dds"}) {
    std::optional<Entry> entry = findEntry(*archive, path);
    ASSERT_TRUE(entry) << path;
    EXPECT_EQ(entry->path, "textures/sky/Cloud.dds");
    EXPECT_EQ(entry->folder, "textures\\sky");
  }
  EXPECT_EQ(findEntry(*archive, "readme.txt")->folder, "");
  EXPECT_FALSE(findEntry(*archive, "textures/sky"));
  EXPECT_FALSE(findEntry(*archive, "data/readme.txt"));

  // Two records with one path: the later one is what an extraction leaves, so it is the one found.
  using namespace oxtrel::testing;
  TestArchive twice;
  twice.folders.push_back({.name = "a", .files = {{.name = "x.nif", .payload = bytesOf("first")},
                                                  {.name = "x.nif", .payload = bytesOf("second")}}});
  writeFile(dir / "twice.vrk", buildArchive(twice));
  Result<Archive> both = openArchive(dir / "twice.vrk");
  ASSERT_TRUE(both.ok());
  Result<std::vector<uint8_t>> found = readEntry(*both, *findEntry(*both, "A/X.NIF"));
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(std::string(found->begin(), found->end()), "second");
}

// Differential: for every path, the record found is the one whose contents extraction leaves
// there. Folders that differ by a "." component or an empty one are one directory on disk; folders
// that differ in case are two on a case-sensitive file system, and a lookup in either case finds
// its own.
TEST(Api, FindEntryAnswersWithTheRecordExtractionLeavesOnDisk) {
  using namespace oxtrel::testing;
  TestArchive a;
  int serial = 0;
  for (const char* folder : {"a", "d", "b", "a\\.", ".\\d", "B", "c\\", "a", "e\\f", "e\\.\\f\\."})
    a.folders.push_back({.name = folder, .files = {{.name = "x.nif", .payload = bytesOf(std::to_string(++serial))}}});
  a.folders.push_back({.name = "g", .files = {{.name = "y.nif", .payload = bytesOf("g1")},
                                              {.name = ".\\y.nif", .payload = bytesOf("g2")},
                                              {.name = "Y.nif", .payload = bytesOf("g3")}}});
  ScratchDir dir;
  writeFile(dir / "dots.vrk", buildArchive(a));
  Result<Archive> archive = openArchive(dir / "dots.vrk");
  ASSERT_TRUE(archive.ok());
  ASSERT_TRUE(extract(*archive, {.destination = dir.path}).ok());

  for (const char* path : {"a/x.nif", "a/./x.nif", "d/x.nif", "./d/x.nif", "b/x.nif", "B/x.nif", "c/x.nif",
                           "e/f/x.nif", "g/y.nif", "g/Y.nif", "G/y.NIF"}) {
    std::optional<Entry> found = findEntry(*archive, path);
    ASSERT_TRUE(found) << path;
    Result<std::vector<uint8_t>> bytes = readEntry(*archive, *found);
    ASSERT_TRUE(bytes.ok()) << path;
    std::string onDisk = dir / (std::string("data/") + path);
    if (path == std::string("G/y.NIF")) {
      // No such file on disk: ignoring case, the last record of either spelling.
      EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "g3");
      continue;
    }
    EXPECT_EQ(*bytes, readFile(onDisk)) << path;
  }
}

// A catalogue of many records that all name one long name: every way through the library holds
// the tables and a few paths at a time, never a path per record.
TEST(Api, MemoryFollowsTheCatalogueNotItsPaths) {
  using namespace oxtrel::testing;
  const std::string longName = std::string(2996, 'n') + ".nif";
  TestArchive a;
  a.folders.push_back({.name = "f"});
  for (int i = 0; i < 20000; ++i) a.folders[0].files.push_back({.name = longName, .payload = {}});
  a.folders[0].files[0].payload = bytesOf("only");
  a.nameBlock = bytesOf(longName + '\0');
  ScratchDir dir;
  Bytes bytes = buildArchive(a);
  writeFile(dir / "same.vrk", bytes);
  const size_t perJob = size_t(16) << 20;

  armAllocationProbe();
  {
    Result<Archive> archive = openArchive(dir / "same.vrk");
    ASSERT_TRUE(archive.ok());
    size_t named = 0;
    for (const Entry& entry : entries(*archive)) named += entry.name.has_value();
    EXPECT_EQ(named, 20000u);
    std::optional<Entry> found = findEntry(*archive, "f/" + longName);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->index, 19999u);
    EXPECT_LE(peakBytesSinceArmed(), bytes.size() + (size_t(1) << 20)) << "open, list and find";
    for (unsigned jobs : {1u, 2u}) {
      Result<ExtractReport> tested = extract(*archive, {.destination = dir.path, .jobs = jobs, .testOnly = true});
      ASSERT_TRUE(tested.ok());
      EXPECT_EQ(tested->written + tested->problems, 20000u) << jobs;
    }
  }
  EXPECT_LE(peakBytesSinceArmed(), bytes.size() + 2 * perJob);
}

TEST(Api, DamageIsReportedAsTheRightError) {
  ScratchDir dir;
  Packed packed = packSome(dir, true);
  Bytes whole = readFile(packed.archive);

  Result<Archive> missing = openArchive(dir / "absent.vrk");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, ErrorKind::cannotOpen);
  EXPECT_EQ(message(missing.error()), "cannot open " + (dir / "absent.vrk") + ": No such file or directory");

  writeFile(dir / "short.vrk", Bytes(whole.begin(), whole.begin() + 40));
  Result<Archive> shortArchive = openArchive(dir / "short.vrk");
  ASSERT_FALSE(shortArchive.ok());
  EXPECT_EQ(message(shortArchive.error()), "truncated catalogue");

  // The tables survive; the last payload loses its end, and the first one's stream is spoiled.
  Result<Archive> intact = openArchive(packed.archive);
  ASSERT_TRUE(intact.ok());
  const std::optional<Entry> last = entries(*intact).back();
  const std::optional<Entry> first = entries(*intact).front();
  Bytes damaged(whole.begin(), whole.begin() + last->offset + last->storedSize - 1);
  damaged[first->offset + 8] ^= 0x55;
  writeFile(dir / "damaged.vrk", damaged);
  Result<Archive> archive = openArchive(dir / "damaged.vrk");
  ASSERT_TRUE(archive.ok());
  Result<std::vector<uint8_t>> cut = readEntry(*archive, entries(*archive).back());
  ASSERT_FALSE(cut.ok());
  EXPECT_EQ(cut.error().kind, ErrorKind::truncated);
  EXPECT_EQ(cut.error().where, last->path);
  Result<std::vector<uint8_t>> spoiled = readEntry(*archive, entries(*archive).front());
  ASSERT_FALSE(spoiled.ok());
  EXPECT_EQ(message(spoiled.error()), "cannot unpack " + first->path);
}

// The same archive opened by path, from a copy in memory and from a descriptor: the same
// entries, contents and extracted tree (on several threads), none of it tied to the caller's
// buffer or descriptor once the call returns.
TEST(Api, MemoryAndDescriptorOpenTheArchiveThePathOpens) {
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress);
    ScratchDir dir;
    Packed packed = packSome(dir, compress);
    Result<Archive> byPath = openArchive(packed.archive);
    ASSERT_TRUE(byPath.ok());
    Bytes buffer = readFile(packed.archive);
    Result<Archive> byMemory = openArchiveFromMemory(buffer, "in memory");
    std::fill(buffer.begin(), buffer.end(), uint8_t(0xEE));
    int fd = open(packed.archive.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(lseek(fd, 7, SEEK_SET), 7);
    Result<Archive> byDescriptor = openArchiveFromDescriptor(fd, "by descriptor");
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7);
    close(fd);
    ASSERT_TRUE(byMemory.ok()) << message(byMemory.error());
    ASSERT_TRUE(byDescriptor.ok()) << message(byDescriptor.error());
    EXPECT_EQ(archivePath(*byMemory), "in memory");
    EXPECT_EQ(archivePath(*byDescriptor), "by descriptor");

    for (const Archive* other : {&*byMemory, &*byDescriptor}) {
      ASSERT_EQ(entryCount(*other), entryCount(*byPath));
      for (size_t i = 0; i < entryCount(*byPath); ++i) {
        Entry entry = entryAt(*other, i);
        EXPECT_EQ(entry, entryAt(*byPath, i));
        Result<std::vector<uint8_t>> contents = readEntry(*other, entry);
        ASSERT_TRUE(contents.ok());
        EXPECT_EQ(*contents, packed.files[entry.path]);
      }
      ScratchDir out;
      ExtractSettings settings{.destination = out.path, .jobs = 4};
      Result<ExtractReport> report = extract(*other, settings);
      ASSERT_TRUE(report.ok());
      EXPECT_TRUE(report->clean());
      EXPECT_EQ(report->written, packed.files.size());
      for (const auto& [path, bytes] : packed.files) EXPECT_EQ(readFile(out / ("data/" + path)), bytes);
    }
  }
  Result<Archive> closed = openArchiveFromDescriptor(-1, "nothing");
  ASSERT_FALSE(closed.ok());
  EXPECT_EQ(closed.error().kind, ErrorKind::cannotOpen);
  EXPECT_EQ(closed.error().systemError, EBADF);
  EXPECT_EQ(message(closed.error()), std::string("cannot open nothing: ") + std::strerror(EBADF));
  ScratchDir dir;
  int directory = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Result<Archive> notAFile = openArchiveFromDescriptor(directory, "a directory");
  close(directory);
  ASSERT_FALSE(notAFile.ok());
  EXPECT_EQ(notAFile.error().systemError, EISDIR);
  EXPECT_EQ(openArchiveFromMemory({}, "empty").error().kind, ErrorKind::truncated);
}

TEST(Api, StreamEntryWritesTheContentsAndReportsAFailedWrite) {
  ScratchDir dir;
  Packed packed = packSome(dir, true);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  std::optional<Entry> entry = findEntry(*archive, "meshes/rock.nif");
  int fd = memfd_create("stream", MFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(streamEntry(*archive, *entry, fd).ok());
  Bytes written(packed.files["meshes/rock.nif"].size());
  EXPECT_EQ(pread(fd, written.data(), written.size(), 0), ssize_t(written.size()));
  EXPECT_EQ(written, packed.files["meshes/rock.nif"]);
  close(fd);

  int readOnly = open(packed.archive.c_str(), O_RDONLY | O_CLOEXEC);
  Status refused = streamEntry(*archive, *entry, readOnly);
  close(readOnly);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().kind, ErrorKind::cannotWrite);
  EXPECT_EQ(refused.error().where, "meshes/rock.nif");
}

TEST(Api, ExtractMakesAMissingDestinationWithItsParentsButATestMakesNothing) {
  ScratchDir dir;
  Packed packed = packSome(dir, false);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  ExtractSettings test{.destination = dir / "tested/out", .testOnly = true};
  Result<ExtractReport> tested = extract(*archive, test);
  ASSERT_FALSE(tested.ok());
  EXPECT_EQ(tested.error().systemError, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir / "tested"));
  for (unsigned jobs : {1u, 4u}) {
    std::string destination = dir / ("made" + std::to_string(jobs) + "/a//b/");
    Result<ExtractReport> report = extract(*archive, {.destination = destination, .jobs = jobs});
    ASSERT_TRUE(report.ok()) << message(report.error());
    EXPECT_EQ(readFile(destination + "data/readme.txt"), bytesOf("hello"));
  }
  Result<ExtractReport> onAFile = extract(*archive, {.destination = packed.archive + "/below"});
  ASSERT_FALSE(onAFile.ok());
  EXPECT_EQ(onAFile.error().kind, ErrorKind::cannotOpen);
  EXPECT_EQ(onAFile.error().systemError, ENOTDIR);
}

TEST(Api, ExtractSelectsByPatternAndReportsEventsAndProgress) {
  ScratchDir dir;
  Packed packed = packSome(dir, true);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  std::vector<std::string> paths;
  std::vector<ExtractProgress> progress;
  ScratchDir out;
  Result<ExtractReport> report =
      extract(*archive, {.destination = out.path, .patterns = {"textures/**", "sounds/*"}, .jobs = 2},
              [&](const ExtractEvent& event) { paths.emplace_back(event.path); },
              [&](const ExtractProgress& step) { progress.push_back(step); });
  ASSERT_TRUE(report.ok()) << message(report.error());
  EXPECT_EQ(report->written, 2u);
  EXPECT_EQ(report->unusedPatterns, std::vector<std::string>{"sounds/*"});
  EXPECT_FALSE(report->clean());
  EXPECT_EQ(paths, (std::vector<std::string>{"data\\textures\\empty.dds", "data\\textures\\sky\\Cloud.dds"}));
  std::map<std::string, std::string> expected{
      {"data/", ""}, {"data/textures/", ""}, {"data/textures/sky/", ""}, {"data/textures/empty.dds", ""},
      {"data/textures/sky/Cloud.dds", std::string(packed.files["textures/sky/Cloud.dds"].begin(),
                                                  packed.files["textures/sky/Cloud.dds"].end())}};
  EXPECT_EQ(snapshotTree(out.path), expected);
  ASSERT_EQ(progress.size(), 3u);
  EXPECT_EQ(progress.back().entriesDone, 2u);
  EXPECT_EQ(progress.back().entriesTotal, 2u);
  EXPECT_EQ(progress.back().bytesDone, progress.back().bytesTotal);

  ScratchDir tested;
  Result<ExtractReport> test = extract(*archive, {.destination = tested.path, .testOnly = true});
  ASSERT_TRUE(test.ok());
  EXPECT_EQ(test->written, 4u);
  EXPECT_TRUE(test->clean());
  EXPECT_TRUE(snapshotTree(tested.path).empty());

  // A test makes no destination (an extraction would).
  Result<ExtractReport> nowhere = extract(*archive, {.destination = dir / "no/such/dir", .testOnly = true});
  ASSERT_FALSE(nowhere.ok());
  EXPECT_EQ(nowhere.error().kind, ErrorKind::cannotOpen);
}

// A selection by index takes exactly the records named, whatever their paths would match.
TEST(Api, ExtractTakesEntriesByIndex) {
  ScratchDir dir;
  Packed packed = packSome(dir, false);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  const size_t cloud = findEntry(*archive, "textures/sky/Cloud.dds")->index;
  const size_t readme = findEntry(*archive, "readme.txt")->index;
  ScratchDir out;
  Result<ExtractReport> report = extract(*archive, {.destination = out.path, .entries = {cloud, readme, cloud}});
  ASSERT_TRUE(report.ok()) << message(report.error());
  EXPECT_EQ(report->written, 2u);
  EXPECT_TRUE(report->clean());
  EXPECT_EQ(snapshotTree(out.path).size(), 5u);  // data/, readme.txt, textures/, sky/, Cloud.dds
  EXPECT_EQ(readFile(out / "data/textures/sky/Cloud.dds"), packed.files["textures/sky/Cloud.dds"]);

  const ExtractSettings refused[] = {
      {.destination = out.path, .patterns = {"*"}, .entries = {cloud}},
      {.destination = out.path, .excludes = {"*"}, .entries = {cloud}},
      {.destination = out.path, .entries = {entryCount(*archive)}},
  };
  for (const ExtractSettings& settings : refused) {
    Result<ExtractReport> no = extract(*archive, settings);
    ASSERT_FALSE(no.ok());
    EXPECT_EQ(no.error().kind, ErrorKind::invalidArgument);
  }
}

TEST(Api, RefusesBadArguments) {
  ScratchDir dir;
  Bytes one = bytesOf("x");
  struct Case {
    std::vector<PackInput> inputs;
    PackSettings settings;
    ErrorKind kind;
  };
  const Case cases[] = {
      {{{"", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"/etc/passwd", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"a/../b.txt", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"a//b.txt", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"a/b.txt", one, {}}, {"a\\b.txt", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"a/B.txt", one, {}}, {"a/b.txt", one, {}}}, {}, ErrorKind::nameCollision},
      {{{std::string("a\0b", 3), one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"a", one, {}}, {"a/b", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"x/a\\b\\c", one, {}}, {"x/a/b", one, {}}}, {}, ErrorKind::invalidArgument},
      {{{"a.txt", one, {}}}, {.compress = true, .level = 13}, ErrorKind::invalidArgument},
      {{{"a.txt", one, {}}}, {.jobs = 65}, ErrorKind::invalidArgument},
      {{{"a.txt", {}, dir / "absent"}}, {}, ErrorKind::cannotRead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputs.front().path);
    Result<PackSummary> summary = packEntries(c.inputs, dir / "out.vrk", c.settings);
    ASSERT_FALSE(summary.ok());
    EXPECT_EQ(summary.error().kind, c.kind) << message(summary.error());
    EXPECT_TRUE(snapshotTree(dir.path).empty()) << "a failed pack left a file behind";
  }
}

// The system reads a path up to its first NUL, so "tree\0x" would quietly mean "tree".
TEST(Api, PathsHoldingANulAreRefusedWhereTheyEnter) {
  ScratchDir dir;
  testing::writeTree(dir / "tree", {{"f", "x"}});
  ASSERT_TRUE(packDirectory(dir / "tree", dir / "a.vrk", {}).ok());
  Result<Archive> archive = openArchive(dir / "a.vrk");
  ASSERT_TRUE(archive.ok());
  const std::string cut = std::string(1, '\0') + "x";
  Bytes one = bytesOf("x");
  auto failure = [](auto result) { return result ? std::optional<Error>() : result.error(); };
  const std::vector<std::pair<const char*, std::function<std::optional<Error>()>>> calls = {
      {"packDirectory directory", [&] { return failure(packDirectory(dir / "tree" + cut, dir / "b.vrk", {})); }},
      {"packDirectory archive", [&] { return failure(packDirectory(dir / "tree", dir / "b.vrk" + cut, {})); }},
      {"packEntries archive",
       [&] { return failure(packEntries(std::vector<PackInput>{{"f", one, {}}}, dir / "b.vrk" + cut, {})); }},
      {"packEntries source",
       [&] { return failure(packEntries(std::vector<PackInput>{{"f", {}, dir / "tree/f" + cut}}, dir / "b.vrk", {})); }},
      {"openArchive", [&] { return failure(openArchive(dir / "a.vrk" + cut)); }},
      {"extract destination", [&] { return failure(extract(*archive, {.destination = dir / "out" + cut})); }},
  };
  for (const auto& [name, call] : calls) {
    std::optional<Error> error = call();
    ASSERT_TRUE(error.has_value()) << name;
    EXPECT_EQ(error->kind, ErrorKind::invalidArgument) << name;
    EXPECT_EQ(message(*error).find('\0'), std::string::npos) << name;
  }
  std::map<std::string, std::string> left = snapshotTree(dir.path);
  EXPECT_EQ(left.size(), 3u) << "only the tree and a.vrk: " << ::testing::PrintToString(left);
}

TEST(Api, PackDirectoryAndPackEntriesFromFilesGiveOneArchive) {
  ScratchDir dir;
  testing::writeTree(dir / "tree", {{"a/b.nif", "mesh"}, {"top.txt", "top"}});
  ASSERT_TRUE(packDirectory(dir / "tree", dir / "tree.vrk", {.compress = true, .jobs = 0}).ok());
  std::vector<PackInput> inputs{{"top.txt", {}, dir / "tree/top.txt"}, {"a\\b.nif", {}, dir / "tree/a/b.nif"}};
  ASSERT_TRUE(packEntries(inputs, dir / "list.vrk", {.compress = true}).ok());
  EXPECT_EQ(readFile(dir / "tree.vrk"), readFile(dir / "list.vrk"));
}

TEST(Api, PackNotesReachTheCallerInOrderWhetherThePackSucceedsOrFails) {
  ScratchDir dir;
  const std::string looks("\1\2\3\4\x78\x9c", 6);
  testing::writeTree(dir / "tree", {{"looks.bin", looks}});
  ASSERT_EQ(symlink("looks.bin", (dir / "tree/link").c_str()), 0);
  const std::string linkNote = dir / "tree/link: symbolic link, not followed";
  const std::string looksNote = ": its bytes 4 and 5 are those of a compressed payload";
  const Bytes looksBytes = bytesOf(looks);
  std::vector<PackInput> inputs{{"looks.bin", looksBytes, {}}};
  struct Case {
    const char* what;
    std::function<Result<PackSummary>(const PackNoteCallback&)> pack;
    bool ok;
    std::vector<std::string> notes;  // each note starts with its entry
  };
  const Case cases[] = {
      {"tree", [&](const PackNoteCallback& f) { return packDirectory(dir / "tree", dir / "a.vrk", {}, f); }, true,
       {linkNote, dir / "tree/looks.bin" + looksNote}},
      {"tree, unwritable",
       [&](const PackNoteCallback& f) { return packDirectory(dir / "tree", dir / "no/c.vrk", {}, f); }, false,
       {linkNote}},
      {"entries", [&](const PackNoteCallback& f) { return packEntries(inputs, dir / "d.vrk", {}, f); }, true,
       {"looks.bin" + looksNote}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> notes;
    const std::thread::id caller = std::this_thread::get_id();
    Result<PackSummary> summary = c.pack([&](std::string_view note) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      notes.emplace_back(note);
    });
    EXPECT_EQ(summary.ok(), c.ok);
    ASSERT_EQ(notes.size(), c.notes.size());
    for (size_t i = 0; i < notes.size(); ++i) EXPECT_TRUE(notes[i].starts_with(c.notes[i])) << notes[i];
  }
}

TEST(Api, OddRecordsAreDescribedMatchedAndStreamedAsTheCommandLineShowsThem) {
  using namespace oxtrel::testing;
  ScratchDir dir;
  TestArchive odd;
  odd.folders = {{.name = "a\\\\b",
                  .files = {{.name = "x.nif", .payload = bytesOf("x")},
                            {.name = "y.nif", .payload = bytesOf("y"), .hash = NameHash{1, 2, 3, 4, 5, 6, 7, 8}},
                            {.name = "z.nif", .payload = bytesOf("z"), .size = 1000}}},
                 {.name = "c", .files = {{.name = "w.dds", .payload = bytesOf("w")}}}};
  writeFile(dir / "odd.vrk", buildArchive(odd));
  Result<Archive> archive = openArchive(dir / "odd.vrk");
  ASSERT_TRUE(archive.ok()) << message(archive.error());
  const EntryList all = entries(*archive);
  ASSERT_EQ(all.size(), 4u);
  ASSERT_EQ(entryCount(*archive), 4u);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(entryAt(*archive, i), all[i]) << i;
  EXPECT_EQ(all[0].path, "a//b/x.nif");
  EXPECT_EQ(consolePath(all[0]), "data\\a\\\\b\\x.nif");
  EXPECT_FALSE(all[1].name.has_value());
  EXPECT_EQ(consolePath(all[1]), "");
  EXPECT_EQ(all[1].indexInFolder, 1u);
  EXPECT_EQ(all[3].indexInFolder, 0u);
  EXPECT_TRUE(all[0].payloadInArchive);
  EXPECT_FALSE(all[2].payloadInArchive);
  // Empty components are nothing on disk, so they are nothing to a lookup either.
  EXPECT_EQ(findEntry(*archive, "A/B\\X.NIF"), all[0]);
  EXPECT_EQ(findEntry(*archive, "a//b/x.nif/"), all[0]);

  struct MatchCase {
    std::vector<std::string> patterns, excludes;
    std::vector<size_t> indices;
    std::vector<std::string> unused;
  };
  const MatchCase matchCases[] = {
      {{}, {}, {0, 1, 2, 3}, {}},
      {{}, {"c/*"}, {0, 1, 2}, {}},
      {{"**/*.nif", "q/*"}, {"**/z.nif"}, {0}, {"q/*"}},
      {{"C/W.DDS"}, {}, {3}, {}},
  };
  for (const MatchCase& c : matchCases) {
    EntryMatches matches = matchEntries(*archive, c.patterns, c.excludes);
    EXPECT_EQ(matches.indices, c.indices);
    EXPECT_EQ(matches.unusedPatterns, c.unused);
  }

  // Streamed contents come in table order; a stream that refuses ends the run with its reason.
  FILE* stream = std::tmpfile();
  Result<ExtractReport> streamed = extract(*archive, {.patterns = {"c/*", "**/x.nif"}, .stream = stream});
  ASSERT_TRUE(streamed.ok());
  EXPECT_TRUE(streamed->clean());
  std::rewind(stream);
  char got[8] = {};
  EXPECT_EQ(std::fread(got, 1, sizeof got, stream), 2u);
  EXPECT_EQ(std::string(got), "xw");
  std::fclose(stream);
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  Result<ExtractReport> refused = extract(*archive, {.patterns = {"c/*"}, .stream = full});
  std::fclose(full);
  ASSERT_TRUE(refused.ok());
  EXPECT_EQ(refused->streamError, ENOSPC);
  EXPECT_FALSE(refused->clean());

  // Into a caller's directory descriptor; and with the stop flag already up, nothing begins.
  int out = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(out, 0);
  const std::atomic<int> stop{SIGTERM};
  Result<ExtractReport> stopped = extract(*archive, {.destinationFd = out, .stop = &stop});
  ASSERT_TRUE(stopped.ok());
  EXPECT_TRUE(stopped->stopped);
  EXPECT_EQ(stopped->written, 0u);
  Result<ExtractReport> placed = extract(*archive, {.destinationFd = out, .patterns = {"c/w.dds"}, .jobs = 2});
  close(out);
  ASSERT_TRUE(placed.ok());
  EXPECT_EQ(placed->written, 1u);
  EXPECT_FALSE(placed->stopped);
  EXPECT_EQ(readFile(dir / "data/c/w.dds"), bytesOf("w"));
}

// Many small entries in a few folders, so a parallel run is still going when a callback acts.
Packed packMany(const ScratchDir& dir, size_t count) {
  Packed packed{{}, dir / "many.vrk"};
  std::vector<PackInput> inputs;
  for (size_t i = 0; i < count; ++i)
    packed.files["f" + std::to_string(i % 7) + "/" + std::to_string(i) + ".nif"] = filler(100 + i % 300, uint8_t(i));
  for (const auto& [path, bytes] : packed.files) inputs.push_back({path, bytes, {}});
  EXPECT_TRUE(packEntries(inputs, packed.archive, {}).ok());
  return packed;
}

size_t threadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// A joined thread's task can stay listed for a moment after the join returns.
bool threadsSettleAt(size_t expected) {
  for (int tries = 0; tries < 300; ++tries) {
    if (threadCount() == expected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(Api, StoppedMeansAnEntryWasLeftOutAtEveryJobCount) {
  ScratchDir dir;
  Packed packed = packMany(dir, 200);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  for (unsigned jobs : {1u, 2u, 4u}) {
    SCOPED_TRACE(jobs);
    // Raised before the run: nothing begins, and that is not a clean run.
    std::atomic<int> stop{SIGINT};
    ScratchDir early;
    Result<ExtractReport> none = extract(*archive, {.destination = early.path, .jobs = jobs, .stop = &stop});
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->stopped);
    EXPECT_EQ(none->written, 0u);
    EXPECT_FALSE(none->clean());
    // Raised once the last entry has begun: nothing was left out.
    stop = 0;
    ScratchDir late;
    size_t seen = 0;
    Result<ExtractReport> all = extract(*archive, {.destination = late.path, .jobs = jobs, .stop = &stop},
                                        [&](const ExtractEvent& event) {
                                          if (event.kind == ExtractEventKind::entry && ++seen == packed.files.size())
                                            stop = SIGTERM;
                                        });
    ASSERT_TRUE(all.ok());
    EXPECT_FALSE(all->stopped);
    EXPECT_EQ(all->written, packed.files.size());
    EXPECT_TRUE(all->clean());
  }
}

TEST(Api, ACallbackThatThrowsLeavesNoThreadAndNoTemporary) {
  ScratchDir dir;
  Packed packed = packMany(dir, 400);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  {
    // A threaded run first, so that threads a runtime starts once for good (a sanitizer's) are
    // counted before the runs that throw.
    ScratchDir warmUp;
    ASSERT_TRUE(extract(*archive, {.destination = warmUp.path, .jobs = 4}).ok());
  }
  // The count once it holds still: a joined worker can stay listed for a moment.
  size_t threadsBefore = threadCount();
  for (size_t previous = 0; previous != threadsBefore;) {
    previous = threadsBefore;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    threadsBefore = threadCount();
  }
  for (unsigned jobs : {1u, 4u})
    for (bool fromProgress : {false, true})
      for (size_t throwAt : {size_t(1), size_t(37), size_t(399)}) {
        SCOPED_TRACE(::testing::Message() << jobs << " jobs, progress " << fromProgress << ", at " << throwAt);
        ScratchDir out;
        size_t calls = 0;
        auto maybeThrow = [&] {
          if (++calls == throwAt) throw std::runtime_error("caller gives up");
        };
        ExtractEventCallback onEvent = [&](const ExtractEvent&) { if (!fromProgress) maybeThrow(); };
        ExtractProgressCallback onProgress = [&](const ExtractProgress&) { if (fromProgress) maybeThrow(); };
        EXPECT_THROW((void)extract(*archive, {.destination = out.path, .jobs = jobs}, onEvent, onProgress),
                     std::runtime_error);
        EXPECT_TRUE(threadsSettleAt(threadsBefore)) << threadCount() << " threads, " << threadsBefore << " before";
        // Whatever was written is whole and under its own name.
        for (const auto& [path, contents] : snapshotTree(out.path)) {
          if (path.ends_with("/")) continue;
          ASSERT_TRUE(path.starts_with("data/")) << path;
          auto source = packed.files.find(path.substr(5));
          ASSERT_NE(source, packed.files.end()) << path;
          EXPECT_EQ(contents, std::string(source->second.begin(), source->second.end())) << path;
        }
      }
}

TEST(Api, AStreamCountsOnlyWhatReachedTheDescriptor) {
  ScratchDir dir;
  Packed packed = packSome(dir, false);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  // Buffered as a stream normally is: every entry fits in the buffer, none reaches the device.
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  Result<ExtractReport> refused = extract(*archive, {.stream = full});
  std::fclose(full);
  ASSERT_TRUE(refused.ok());
  EXPECT_EQ(refused->written, 0u);
  EXPECT_EQ(refused->streamError, ENOSPC);
  EXPECT_FALSE(refused->clean());
}

TEST(Api, AMovedFromArchiveAnswersWithoutCrashing) {
  ScratchDir dir;
  Packed packed = packSome(dir, true);
  Result<Archive> opened = openArchive(packed.archive);
  ASSERT_TRUE(opened.ok());
  Archive archive = std::move(*opened);
  Entry entry = entries(archive).front();
  Archive taken = std::move(archive);
  EXPECT_TRUE(entries(archive).empty());
  EXPECT_EQ(entryCount(archive), 0u);
  EXPECT_EQ(entryAt(archive, 0), Entry{});
  EXPECT_EQ(archivePath(archive), "");
  EXPECT_FALSE(findEntry(archive, entry.path));
  EntryMatches matches = matchEntries(archive, {"**"}, {});
  EXPECT_TRUE(matches.indices.empty());
  EXPECT_EQ(matches.unusedPatterns, std::vector<std::string>{"**"});
  Result<std::vector<uint8_t>> read = readEntry(archive, entry);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().kind, ErrorKind::invalidArgument);
  Status streamed = streamEntry(archive, entry, STDERR_FILENO);
  ASSERT_FALSE(streamed.ok());
  EXPECT_EQ(streamed.error().kind, ErrorKind::invalidArgument);
  Result<ExtractReport> extracted = extract(archive, {.destination = dir.path});
  ASSERT_FALSE(extracted.ok());
  EXPECT_EQ(message(extracted.error()), "an archive that was moved from");
  // The archive it went to is whole.
  EXPECT_EQ(*readEntry(taken, entry), packed.files[entry.path]);
}

TEST(Api, OneArchiveReadFromSeveralThreadsAtOnce) {
  ScratchDir dir;
  Packed packed = packSome(dir, true);
  Result<Archive> archive = openArchive(packed.archive);
  ASSERT_TRUE(archive.ok());
  std::vector<int> mismatches(4, 0);
  {
    std::vector<std::jthread> readers;
    for (size_t t = 0; t < mismatches.size(); ++t)
      readers.emplace_back([&, t] {
        for (int round = 0; round < 20; ++round)
          for (const Entry& entry : entries(*archive)) {
            Result<std::vector<uint8_t>> bytes = readEntry(*archive, *findEntry(*archive, entry.path));
            if (!bytes.ok() || *bytes != packed.files.at(entry.path)) ++mismatches[t];
          }
      });
  }
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace oxtrel
