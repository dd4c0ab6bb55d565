// oxtrel: extracts every file of an archive into ./data.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "extract/extraction_run.h"
#include "extract/stop_signals.h"

namespace {

const char kUsage[] = "Usage: oxtrel <vrkfile>\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace oxtrel;
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
  catchStopSignals();
  try {
    return runExtraction(argv[1], AT_FDCWD, stdout);
  } catch (const std::bad_alloc&) {
    // Lines already printed stay; nothing more is said.
    std::fflush(stdout);
    return kExitOutOfMemory;
  }
}
