#include "pack/pack_directory.h"

#include "pack/catalogue_plan.h"
#include "pack/tree_scan.h"

namespace oxtrel {

PackReport packDirectory(const std::string& directory, const std::string& archivePath,
                         const PackOptions& options) {
  std::optional<FileIdentity> existing;
  // Through a link, the file replaced is the link's target.
  if (platform::ReplaceTarget target; platform::findReplaceTarget(archivePath, target) == 0 && target.exists)
    existing = target.identity;

  PackReport report;
  Result<TreeScan> scan = scanTree(directory, existing, options.stop);
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
