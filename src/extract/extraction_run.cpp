#include "extract/extraction_run.h"

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/extraction_walk.h"
#include "extract/output_tree.h"

namespace oxtrel {

int extractArchive(const ArchiveFile& archive, const char* displayPath, int parentFd, FILE* console) {
  LoadResult loaded = loadCatalogue(archive);
  if (loaded.status != LoadStatus::ok) {
    std::fprintf(console, "Error: truncated catalogue in %s\n", displayPath);
    return kExitProblem;
  }
  const Catalogue& catalogue = loaded.catalogue;
  NameIndex index = buildNameIndex(catalogue.nameBlock, catalogue.header.fileCount);
  OutputTree tree = makeOutputTree(parentFd);
  ExtractionSummary summary = extractAll(catalogue, index, archive, tree, console);
  closeOutputTree(tree);
  return summary.problems == 0 ? kExitOk : kExitProblem;
}

int runExtraction(const char* path, int parentFd, FILE* console) {
  OpenArchiveResult opened = openArchive(path);
  if (opened.error != 0) {
    std::fprintf(console, "cannot open %s\n", path);
    return kExitProblem;
  }
  int status = extractArchive(opened.file, path, parentFd, console);
  closeArchive(opened.file);
  return status;
}

}  // namespace oxtrel
