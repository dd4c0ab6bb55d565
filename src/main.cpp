// oxtrel: extracts every file of an archive into ./data.

#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

#include "catalogue/archive_file.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitProblem = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutOfMemory = 3;

const char kUsage[] = "Usage: oxtrel <vrkfile>\n";

int run(const char* path) {
  using namespace oxtrel;
  OpenArchiveResult opened = openArchive(path);
  if (opened.error != 0) {
    std::printf("cannot open %s\n", path);
    return kExitProblem;
  }
  ArchiveFile archive = opened.file;
  LoadResult loaded = loadCatalogue(archive);
  if (loaded.status != LoadStatus::ok) {
    std::printf("Error: truncated catalogue in %s\n", path);
    closeArchive(archive);
    return kExitProblem;
  }
  const Catalogue& catalogue = loaded.catalogue;
  NameIndex index = buildNameIndex(catalogue.nameBlock, catalogue.header.fileCount);
  closeArchive(archive);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // Line-at-a-time output only helps a person watching; pipes and files get full buffering.
  if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);

  if (argc != 2) {
    std::fputs(kUsage, stdout);
    return kExitUsage;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("oxtrel %s\n", OXTREL_VERSION);
    return kExitOk;
  }
  try {
    return run(argv[1]);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    return kExitOutOfMemory;
  }
}
