#include "extract/extraction_run.h"

#include <fcntl.h>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/extraction_walk.h"
#include "extract/output_tree.h"

namespace oxtrel {

int extractArchive(const PositionalFile& archive, const char* displayPath, int parentFd, FILE* console) {
  // Tables first, then payloads in table order: mostly one forward pass over the file. Only
  // advice, so a refusal changes nothing.
  posix_fadvise(archive.fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  Result<Catalogue> loaded = loadCatalogue(archive);
  if (!loaded) {
    // A read error inside the tables reads, to the user, as a catalogue that is not all there.
    std::fprintf(console, "Error: truncated catalogue in %s\n", displayPath);
    return kExitProblem;
  }
  const Catalogue& catalogue = *loaded;
  NameIndex index = buildNameIndex(catalogue.nameBlock, catalogue.header.fileCount);
  OutputTree tree = makeOutputTree(parentFd);
  ExtractionSummary summary = extractAll(catalogue, index, archive, tree, console);
  return summary.problems == 0 ? kExitOk : kExitProblem;
}

int runExtraction(const char* path, int parentFd, FILE* console) {
  Result<PositionalFile> opened = openPositionalFile(path);
  if (!opened) {
    std::fprintf(console, "cannot open %s\n", path);
    return kExitProblem;
  }
  return extractArchive(*opened, path, parentFd, console);
}

}  // namespace oxtrel
