// inflate_floor: the cost of inflating a compressed archive's payloads with nothing else around
// it. Reads every payload into memory first, then inflates them all, once with libdeflate and
// once with zlib, into one reused buffer; prints "<libdeflate seconds> <zlib seconds>" of CPU time
// (the machine may be shared, and CPU time is what the work itself costs).
// The benchmark shows it beside the extractors as the floor that no extractor can go under.

#include <libdeflate.h>
#include <zlib.h>

#include <time.h>

#include <cstdio>
#include <vector>

#include "io/positional_file.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: inflate_floor <compressed archive>\n");
    return 2;
  }
  oxtrel::Result<oxtrel::PositionalFile> opened = oxtrel::openPositionalFile(argv[1]);
  if (!opened) {
    std::fprintf(stderr, "inflate_floor: cannot open %s\n", argv[1]);
    return 1;
  }
  oxtrel::Result<oxtrel::Catalogue> loaded = oxtrel::loadCatalogue(*opened);
  if (!loaded || !oxtrel::isCompressed(loaded->header)) {
    std::fprintf(stderr, "inflate_floor: %s is not a readable compressed archive\n", argv[1]);
    return 1;
  }
  std::vector<std::vector<uint8_t>> payloads;
  size_t largest = 0;
  for (const oxtrel::FileRecord& record : loaded->files) {
      std::vector<uint8_t>& p = payloads.emplace_back(record.size);
      if (record.size < oxtrel::kUnpackedSizeBytes || !oxtrel::readAt(*opened, record.offset, p)) {
        std::fprintf(stderr, "inflate_floor: bad payload at %x\n", record.offset);
        return 1;
      }
      largest = std::max<size_t>(largest, oxtrel::loadLe32(p.data()));
    }
  std::vector<uint8_t> out(largest);

  double start = cpuSeconds();
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  for (const std::vector<uint8_t>& p : payloads) {
    size_t produced = 0;
    if (libdeflate_zlib_decompress(d, p.data() + oxtrel::kUnpackedSizeBytes, p.size() - oxtrel::kUnpackedSizeBytes, out.data(), out.size(), &produced) !=
        LIBDEFLATE_SUCCESS)
      return 1;
  }
  libdeflate_free_decompressor(d);
  double fast = cpuSeconds() - start;

  start = cpuSeconds();
  for (const std::vector<uint8_t>& p : payloads) {
    uLongf produced = out.size();
    if (uncompress(out.data(), &produced, p.data() + oxtrel::kUnpackedSizeBytes, p.size() - oxtrel::kUnpackedSizeBytes) != Z_OK) return 1;
  }
  std::printf("%.3f %.3f\n", fast, cpuSeconds() - start);
  return 0;
}
