#include "extract/extraction_run.h"

#include <fcntl.h>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/extraction_walk.h"
#include "extract/output_tree.h"
#include "extract/stop_signals.h"

namespace oxtrel {

int extractArchive(const ArchiveFile& archive, const char* displayPath, int parentFd, FILE* console) {
  // Tables first, then payloads in table order: mostly one forward pass over the file. Only
  // advice, so a refusal changes nothing.
  posix_fadvise(archive.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  LoadResult loaded = loadCatalogue(archive);
  if (loaded.status != LoadStatus::ok) {
    std::fprintf(console, "Error: truncated catalogue in %s\n", displayPath);
    return kExitProblem;
  }
  const Catalogue& catalogue = loaded.catalogue;
  std::optional<NameIndex> index = readNameIndex(archive, catalogue.nameBlockOffset, catalogue.header.totalNameLength,
                                                 catalogue.header.fileCount, requestedNameKeys(catalogue));
  if (!index) {
    std::fprintf(console, "Error: truncated catalogue in %s\n", displayPath);
    return kExitProblem;
  }
  OutputTree tree = makeOutputTree(parentFd);
  ExtractionSummary summary = extractAll(catalogue, *index, archive, tree, console);
  closeOutputTree(tree);
  // A signal caught during the last entry still ends the run as a signal would.
  if (int signal = stopSignal(); signal != 0) return 128 + signal;
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
