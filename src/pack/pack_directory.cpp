#include "pack/pack_directory.h"

#include <sys/stat.h>

#include "pack/catalogue_plan.h"
#include "pack/tree_scan.h"

namespace oxtrel {

PackReport packDirectory(const std::string& directory, const std::string& archivePath,
                         const PackOptions& options) {
  std::optional<FileIdentity> existing;
  struct stat st;
  if (lstat(archivePath.c_str(), &st) == 0) existing = FileIdentity{st.st_dev, st.st_ino};

  TreeScan scan = scanTree(directory, existing);
  PackReport report;
  if (failed(scan.failure)) {
    report.failure = std::move(scan.failure);
    return report;
  }
  CataloguePlan plan = planCatalogue(scan.directories);
  if (failed(plan.failure)) {
    report.failure = std::move(plan.failure);
    return report;
  }
  report = writeArchive(plan, options, archivePath);
  report.notes.insert(report.notes.begin(), scan.skipped.begin(), scan.skipped.end());
  return report;
}

}  // namespace oxtrel
