#include <oxtrel/pack.h>

#include <map>
#include <set>

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
  return PackOptions{settings.compress, settings.level, settings.jobs == 0 ? defaultJobCount() : settings.jobs};
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

}  // namespace

Result<PackSummary> packDirectory(const std::string& directory, const std::string& archivePath,
                                  const PackSettings& settings, const PackNoteCallback& onNote) {
  Result<PackOptions> options = packOptionsOf(settings);
  if (!options) return std::move(options.error());
  return summaryOf(oxtrel::packDirectory(directory, archivePath, *options), onNote);
}

Result<PackSummary> packEntries(std::span<const PackInput> inputs, const std::string& archivePath,
                                const PackSettings& settings, const PackNoteCallback& onNote) {
  Result<PackOptions> options = packOptionsOf(settings);
  if (!options) return std::move(options.error());

  std::map<std::vector<std::string>, ScannedDirectory> directories;
  std::set<std::vector<std::string>> seen;
  for (const PackInput& input : inputs) {
    Result<std::vector<std::string>> components = componentsOf(input.path);
    if (!components) return std::move(components.error());
    if (!seen.insert(*components).second) return badPath(input.path, "is given twice");
    std::string name = std::move(components->back());
    components->pop_back();
    ScannedDirectory& directory = directories[*components];
    directory.components = *components;
    directory.path = input.path.substr(0, input.path.size() - name.size());
    ScannedFile file{name, input.sourceFile.empty() ? input.path : input.sourceFile, input.bytes.size(), {}};
    if (input.sourceFile.empty()) file.contents = input.bytes;
    // A file's size is read when it is packed; the scan's is only for the early size check.
    directory.files.push_back(std::move(file));
  }
  std::vector<ScannedDirectory> scanned;
  for (auto& [components, directory] : directories) scanned.push_back(std::move(directory));
  Result<CataloguePlan> plan = planCatalogue(scanned);
  if (!plan) return std::move(plan.error());
  return summaryOf(writeArchive(*plan, *options, archivePath), onNote);
}

}  // namespace oxtrel
