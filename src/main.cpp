// oxtrel: extracts every file of an archive into ./data.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "extract/extraction_run.h"
#include "parallel/job_count.h"

namespace {

const char kUsage[] = "Usage: oxtrel <vrkfile>\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace oxtrel;
  // Line-at-a-time output only helps a person watching; pipes and files get full buffering.
  if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);

  unsigned jobs = defaultJobCount();
  int first = 1;
  // -j N, -jN, --jobs N, --jobs=N before the archive.
  while (first < argc - 1) {
    std::string_view arg = argv[first];
    std::string_view count;
    if (arg == "-j" || arg == "--jobs") {
      count = argv[first + 1];
      first += 2;
    } else if (arg.starts_with("--jobs=")) {
      count = arg.substr(7);
      ++first;
    } else if (arg.starts_with("-j")) {
      count = arg.substr(2);
      ++first;
    } else {
      break;
    }
    if (!parseJobCount(count, jobs)) {
      std::fprintf(stderr, "oxtrel: invalid job count: %.*s\n", int(count.size()), count.data());
      std::fputs(kUsage, stderr);
      return kExitUsage;
    }
  }
  if (argc - first != 1) {
    std::fputs(kUsage, stdout);
    return kExitUsage;
  }
  argv += first - 1;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("oxtrel %s\n", OXTREL_VERSION);
    return kExitOk;
  }
  try {
    return runExtraction(argv[1], AT_FDCWD, stdout, jobs);
  } catch (const std::bad_alloc&) {
    // Lines already printed stay; nothing more is said.
    std::fflush(stdout);
    return kExitOutOfMemory;
  }
}
