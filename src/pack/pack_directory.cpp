#include "pack/pack_directory.h"

#include "pack/catalogue_plan.h"
#include "pack/tree_scan.h"

namespace oxtrel {

PackReport packDirectory(const std::string& directory, const std::string& archivePath,
                         const PackOptions& options) {
  std::optional<FileIdentity> existing;
  if (platform::FileStatus status; platform::statusOfPath(archivePath, status) == 0) existing = status.identity;

  PackReport report;
  Result<TreeScan> scan = scanTree(directory, existing);
  if (!scan) {
    report.status = std::move(scan.error());
    return report;
  }
  Result<CataloguePlan> plan = planCatalogue(scan->directories);
  if (!plan) {
    report.status = std::move(plan.error());
    return report;
  }
  report = writeArchive(*plan, options, archivePath);
  report.notes.insert(report.notes.begin(), scan->skipped.begin(), scan->skipped.end());
  return report;
}

}  // namespace oxtrel
