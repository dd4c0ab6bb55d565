#include <oxtrel/pack.h>

#include <map>
#include <set>

#include "api/path_argument.h"
#include "io/positional_file.h"
#include "pack/archive_writer.h"
#include "pack/catalogue_plan.h"
#include "pack/pack_directory.h"
#include "parallel/job_count.h"

namespace oxtrel {

namespace {

Result<PackOptions> packOptionsOf(const PackSettings& settings) {
  if (settings.level < kMinCompressionLevel || settings.level > kMaxCompressionLevel)
    return Error{ErrorKind::invalidArgument, 0,
                 "compression level " + std::to_string(settings.level) + ", outside " +
                     std::to_string(kMinCompressionLevel) + ".." + std::to_string(kMaxCompressionLevel)};
  if (settings.jobs > kMaxJobs)
    return Error{ErrorKind::invalidArgument, 0, "jobs " + std::to_string(settings.jobs) + ", above " +
                                                    std::to_string(kMaxJobs)};
  return PackOptions{settings.compress, settings.level, settings.jobs == 0 ? defaultJobCount() : settings.jobs,
                     settings.stop};
}

// The notes go to the caller before the outcome, so a failed pack still says what it skipped.
Result<PackSummary> summaryOf(PackReport&& report, const PackNoteCallback& onNote) {
  if (onNote) {
    for (const std::string& note : report.notes) onNote(note);
  }
  if (!report.status) return std::move(report.status.error());
  return PackSummary{report.fileCount, report.folderCount, report.bytesIn, report.bytesOut};
}

Error badPath(const std::string& path, const char* why) {
  return {ErrorKind::invalidArgument, 0, "entry path '" + path + "' " + why};
}

// Splits an input's path into folder components and a file name; the components must name a
// place below `data`.
Result<std::vector<std::string>> componentsOf(const std::string& path) {
  if (Status usable = checkPathArgument(path, "entry path"); !usable) return std::move(usable.error());
  if (path.empty()) return badPath(path, "is empty");
  if (path.front() == '/' || path.front() == '\\') return badPath(path, "is absolute");
  std::vector<std::string> components;
  size_t start = 0;
  while (true) {
    size_t end = path.find_first_of("/\\", start);
    std::string component = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (component.empty() || component == "." || component == "..")
      return badPath(path, "has an empty, '.' or '..' component");
    components.push_back(std::move(component));
    if (end == std::string::npos) return components;
    start = end + 1;
  }
}

// A tree cannot hold "a" as a file and as a folder at once, and extraction could write only one
// of them: an input that is also another's folder (or a folder's folder) is refused.
Status checkFileFolderClash(const std::map<std::vector<std::string>, ScannedDirectory>& directories) {
  std::set<std::vector<std::string>> folders;  // every folder and every folder above one
  for (const auto& [components, directory] : directories)
    for (size_t depth = 1; depth <= components.size(); ++depth)
      folders.emplace(components.begin(), components.begin() + ptrdiff_t(depth));
  for (const auto& [components, directory] : directories) {
    std::vector<std::string> path = components;
    for (const ScannedFile& file : directory.files) {
      path.push_back(file.name);
      if (folders.contains(path)) return badPath(directory.path + file.name, "is a file and also a folder of other entries");
      path.pop_back();
    }
  }
  return {};
}

}  // namespace

Result<PackSummary> packDirectory(const std::string& directory, const std::string& archivePath,
                                  const PackSettings& settings, const PackNoteCallback& onNote) {
  Result<PackOptions> options = packOptionsOf(settings);
  if (!options) return std::move(options.error());
  if (Status usable = checkPathArgument(directory, "directory"); !usable) return std::move(usable.error());
  if (Status usable = checkPathArgument(archivePath, "archive path"); !usable) return std::move(usable.error());
  return summaryOf(oxtrel::packDirectory(directory, archivePath, *options), onNote);
}

Result<PackSummary> packEntries(std::span<const PackInput> inputs, const std::string& archivePath,
                                const PackSettings& settings, const PackNoteCallback& onNote) {
  Result<PackOptions> options = packOptionsOf(settings);
  if (!options) return std::move(options.error());

  if (Status usable = checkPathArgument(archivePath, "archive path"); !usable) return std::move(usable.error());

  std::map<std::vector<std::string>, ScannedDirectory> directories;
  std::set<std::vector<std::string>> seen;
  for (const PackInput& input : inputs) {
    Result<std::vector<std::string>> components = componentsOf(input.path);
    if (!components) return std::move(components.error());
    if (Status usable = checkPathArgument(input.sourceFile, "source file"); !usable) return std::move(usable.error());
    if (!seen.insert(*components).second) return badPath(input.path, "is given twice");
    std::string name = std::move(components->back());
    components->pop_back();
    ScannedDirectory& directory = directories[*components];
    directory.components = *components;
    directory.path = input.path.substr(0, input.path.size() - name.size());
    ScannedFile file{name, input.sourceFile.empty() ? input.path : input.sourceFile, input.bytes.size(), {}};
    if (input.sourceFile.empty()) file.contents = input.bytes;
    // The size as a scan would see it decides how the file is compressed; one that cannot be
    // opened now fails when it is packed, as a scanned file would.
    if (!input.sourceFile.empty()) {
      if (Result<PositionalFile> source = openPositionalFile(input.sourceFile.c_str(), true); source)
        file.size = source->size;
    }
    directory.files.push_back(std::move(file));
  }
  if (Status clash = checkFileFolderClash(directories); !clash) return clash.error();
  std::vector<ScannedDirectory> scanned;
  for (auto& [components, directory] : directories) scanned.push_back(std::move(directory));
  Result<CataloguePlan> plan = planCatalogue(scanned);
  if (!plan) return std::move(plan.error());
  return summaryOf(writeArchive(*plan, *options, archivePath), onNote);
}

}  // namespace oxtrel
