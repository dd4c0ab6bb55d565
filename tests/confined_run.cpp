#include "confined_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string_view>

#include "catalogue/entry_path.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "cli/command_run.h"
#include "extract/payload_decoder.h"

namespace oxtrel::testing {

namespace {

using Tree = std::map<std::string, std::string>;

const Tree kPlantedLinks = {{"up", "-> ../../outside"}, {"keep.txt", "-> ../../outside/keep.txt"}};

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text(size_t(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), pattern, again);
  va_end(again);
  text.pop_back();
  return text;
}

// Where a path lands below data: both separators split it, and empty and "." components vanish.
std::string treeKey(std::string_view relative) {
  std::string key;
  size_t start = 0;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && relative[i] != '/' && relative[i] != '\\') continue;
    std::string_view component = relative.substr(start, i - start);
    if (!component.empty() && component != ".") key.append(key.empty() ? "" : "/").append(component);
    start = i + 1;
  }
  return key;
}

bool looksTemporary(const std::string& key) {
  std::string_view name = key;
  name = name.substr(name.rfind('/') == std::string_view::npos ? 0 : name.rfind('/') + 1);
  return name.starts_with(".oxtrel-") && name.ends_with(".tmp");
}

struct ConsoleReader {
  std::string_view rest;
  bool take(const std::string& line) {
    if (!rest.starts_with(line)) return false;
    rest.remove_prefix(line.size());
    return true;
  }
  // A line that starts with prefix and runs to the next newline (its end is the system's words).
  bool takeLineStartingWith(const std::string& prefix) {
    if (!rest.starts_with(prefix)) return false;
    size_t end = rest.find('\n', prefix.size());
    if (end == std::string_view::npos) return false;
    rest.remove_prefix(end + 1);
    return true;
  }
};

struct ConsoleModel {
  Tree files;              // key below data -> bytes, for every entry the run says it wrote
  uint64_t problems = 0;   // Warning and Error lines
  std::string broken;      // the first line that is not what the program prints here
};

// A name as the console shows it: control bytes as \xNN.
std::string shown(std::string_view name) {
  std::string out;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7F ? format("\\x%02x", byte) : std::string(1, c);
  }
  return out;
}

// Reads the console record by record as the walk prints it, learning what was written.
ConsoleModel modelConsole(const Bytes& archive, const Catalogue& catalogue, std::string_view console) {
  NameIndex index = buildNameIndex(std::span(archive).subspan(size_t(catalogue.nameBlockOffset), catalogue.header.totalNameLength),
                                   catalogue.header.fileCount, requestedNameKeys(catalogue));
  PayloadDecoder decoder = makePayloadDecoder();
  ConsoleModel model;
  ConsoleReader in{console};
  for (size_t f = 0; f < folderCount(catalogue); ++f) {
    const std::string_view folder = folderName(catalogue, f);
    const std::span<const FileRecord> files = folderFiles(catalogue, f);
    for (size_t j = 0; j < files.size(); ++j) {
      const FileRecord& record = files[j];
      auto expected = [&](const std::string& line) {
        model.broken = "expected " + line + "got " + std::string(in.rest.substr(0, 200));
        return model;
      };
      std::optional<std::string_view> name = lookup(index, record.hash);
      if (!name) {
        std::string warning = format("Warning!!! File %d in dir %s no found\n", int(j), shown(folder).c_str());
        if (!in.take(warning)) return expected(warning);
        ++model.problems;
        continue;
      }
      std::string path;
      composeEntryPath(path, folder, *name);
      std::string printed = shown(path);
      std::string entry = format("%8x %8x %s\n", record.offset, record.size, printed.c_str());
      if (!in.take(entry)) return expected(entry);
      auto error = [&](const char* pattern) { return format(pattern, record.offset, printed.c_str()); };
      bool written = false;
      if (in.take(error("Error: unsafe path at %8x %s\n")) || in.take(error("Error: truncated payload at %8x %s\n")) ||
          in.take(error("Error unpack at %8x %s\n"))) {
        ++model.problems;
      } else {
        if (in.take(error("Error: possibly packed at %8x %s\n"))) ++model.problems;
        if (in.take(error("Error: unsafe path at %8x %s\n")) || in.takeLineStartingWith("Error: cannot write " + printed + ": "))
          ++model.problems;
        else
          written = true;
      }
      if (!written) continue;

      if (uint64_t(record.offset) + record.size > archive.size()) {
        model.broken = "wrote " + path + ", whose payload the archive does not hold";
        return model;
      }
      std::span<const uint8_t> payload(archive.data() + record.offset, record.size);
      Result<DecodedPayload> decoded = decodePayload(decoder, isCompressed(catalogue.header), payload);
      if (!decoded) {
        model.broken = "wrote " + path + ", whose payload cannot be decoded";
        return model;
      }
      model.files[treeKey(belowDataRoot(path))] = std::string(decoded->bytes.begin(), decoded->bytes.end());
    }
  }
  if (!in.rest.empty()) model.broken = "unexpected console text: " + std::string(in.rest.substr(0, 200));
  return model;
}

// Below data: exactly the files the console says were written, each whole, and the planted
// links that no file replaced.
void checkDataTree(const RunSite& site, const Tree& data, const Tree& written, std::vector<std::string>& broken) {
  for (const auto& [key, contents] : data) {
    if (key.ends_with("/") && contents.empty()) continue;
    auto file = written.find(key);
    auto link = kPlantedLinks.find(key);
    if (file != written.end()) {
      if (contents != file->second) broken.push_back("data/" + key + " is not the whole file written there");
    } else if (site.plantedLinks && link != kPlantedLinks.end() && link->second == contents) {
      continue;
    } else if (looksTemporary(key)) {
      broken.push_back("temporary left behind: data/" + key);
    } else {
      broken.push_back("unexpected entry data/" + key + " " + contents.substr(0, 80));
    }
  }
  for (const auto& [key, contents] : written)
    if (!data.count(key)) broken.push_back("data/" + key + " was reported written but is missing");
  if (site.plantedLinks)
    for (const auto& [key, target] : kPlantedLinks)
      if (!written.count(key) && !data.count(key)) broken.push_back("planted link data/" + key + " vanished");
}

}  // namespace

std::string fastScratchArea() {
  static const std::string area = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "";
  return area;
}

void prepareSite(RunSite& site, const Bytes& archive, bool archiveOnDisk, bool plantLinks) {
  site.archiveOnDisk = archiveOnDisk;
  site.plantedLinks = plantLinks;
  if (mkdir((site.root / "outside").c_str(), 0755) != 0 || mkdir(site.runDir().c_str(), 0755) != 0)
    throw std::runtime_error("cannot lay out the run site");
  writeFile(site.root / "outside/keep.txt", bytesOf("keep"));
  if (archiveOnDisk) writeFile(site.runDir() + "/" + kSiteArchiveName, archive);
  if (!plantLinks) return;
  if (mkdir((site.runDir() + "/data").c_str(), 0755) != 0) throw std::runtime_error("cannot make data");
  for (const auto& [name, target] : kPlantedLinks)
    if (symlink(target.substr(3).c_str(), (site.runDir() + "/data/" + name).c_str()) != 0)
      throw std::runtime_error("cannot plant a link");
}

RunOutcome extractInProcess(const RunSite& site, const Bytes& archive, unsigned jobs) {
  // The archive is read through its descriptor's name in /proc, so nothing is added to the site.
  PositionalFile file = memoryFile(archive);
  char* text = nullptr;
  size_t length = 0;
  FILE* console = open_memstream(&text, &length);
  if (!console) throw std::runtime_error("cannot set up an in-process run");
  RunOutcome outcome;
  Console lines;
  lines.lines = console;
  CommandOptions options;
  options.directory = site.runDir();
  options.jobs = jobs;
  outcome.status = runCommand("/proc/self/fd/" + std::to_string(file.file.get()), kSiteArchiveName, options, lines,
                              nullptr);
  std::fclose(console);
  outcome.console.assign(text, length);
  std::free(text);
  return outcome;
}

std::vector<std::string> checkRun(const RunSite& site, const Bytes& archive, const RunOutcome& outcome) {
  std::vector<std::string> broken;

  const std::string dataPrefix = "run/data/";
  Tree outside;
  Tree data;
  for (auto& [key, contents] : snapshotTree(site.root.path)) {
    if (key.starts_with(dataPrefix)) {
      if (key.size() > dataPrefix.size()) data[key.substr(dataPrefix.size())] = std::move(contents);
    } else {
      outside[key] = std::move(contents);
    }
  }
  Tree expectedOutside = {{"outside/", ""}, {"outside/keep.txt", "keep"}, {"run/", ""}};
  if (site.archiveOnDisk) expectedOutside[std::string("run/") + kSiteArchiveName] = std::string(archive.begin(), archive.end());
  if (outside != expectedOutside) broken.push_back("something outside data was created or changed");

  Result<Catalogue> loaded = loadCatalogue(memoryFile(archive));
  ConsoleModel model;
  if (!loaded) {
    std::string line = format("Error: truncated catalogue in %s\n", kSiteArchiveName);
    model.problems = 1;
    if (outcome.console != line) model.broken = "expected " + line + "got " + outcome.console.substr(0, 200);
  } else {
    model = modelConsole(archive, *loaded, outcome.console);
  }
  if (!model.broken.empty()) broken.push_back("console: " + model.broken);
  int status = model.problems ? 1 : 0;
  if (outcome.status != status)
    broken.push_back("exit status " + std::to_string(outcome.status) + " where " + std::to_string(status) + " was due");
  checkDataTree(site, data, model.files, broken);
  return broken;
}

}  // namespace oxtrel::testing
