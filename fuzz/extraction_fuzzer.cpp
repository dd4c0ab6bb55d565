// A whole run of the extractor on arbitrary archive bytes, in a fresh site per input; inputs of
// odd length meet links already planted below data, and the last byte's bit 1 chooses one
// thread or three. Any broken rule aborts with its description.

#include <cstdio>
#include <cstdlib>

#include "confined_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oxtrel::testing;
  Bytes archive(data, data + size);
  RunSite site;
  prepareSite(site, archive, false, size % 2 == 1);
  unsigned jobs = size > 0 && (data[size - 1] & 2) ? 3 : 1;
  std::vector<std::string> broken = checkRun(site, archive, extractInProcess(site, archive, jobs));
  for (const std::string& b : broken) std::fprintf(stderr, "broken: %s\n", b.c_str());
  if (!broken.empty()) std::abort();
  return 0;
}
