// read_entry: reads one entry of an archive through an EntryReader in pieces of 1 MiB, as a
// client streaming a large entry would, and prints the bytes read. With --whole it reads the
// entry with readEntry instead, for comparison. Memory and time are measured around it.
//
//   read_entry [--whole] <archive> <entry path>

#include <oxtrel/oxtrel.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  const bool whole = argc == 4 && std::strcmp(argv[1], "--whole") == 0;
  if (argc != 3 && !whole) {
    std::fprintf(stderr, "usage: read_entry [--whole] <archive> <entry path>\n");
    return 2;
  }
  const char* path = argv[argc - 2];
  const char* name = argv[argc - 1];
  oxtrel::Result<oxtrel::Archive> archive = oxtrel::openArchive(path);
  if (!archive) {
    std::fprintf(stderr, "read_entry: %s\n", oxtrel::message(archive.error()).c_str());
    return 1;
  }
  std::optional<oxtrel::Entry> entry = oxtrel::findEntry(*archive, name);
  if (!entry) {
    std::fprintf(stderr, "read_entry: no entry %s\n", name);
    return 1;
  }
  uint64_t total = 0;
  if (whole) {
    oxtrel::Result<std::vector<uint8_t>> bytes = oxtrel::readEntry(*archive, *entry);
    if (!bytes) {
      std::fprintf(stderr, "read_entry: %s\n", oxtrel::message(bytes.error()).c_str());
      return 1;
    }
    total = bytes->size();
  } else {
    oxtrel::Result<oxtrel::EntryReader> reader = oxtrel::openEntryReader(*archive, *entry);
    if (!reader) {
      std::fprintf(stderr, "read_entry: %s\n", oxtrel::message(reader.error()).c_str());
      return 1;
    }
    std::vector<std::byte> block(1 << 20);
    for (;;) {
      oxtrel::Result<size_t> n = oxtrel::read(*reader, block);
      if (!n) {
        std::fprintf(stderr, "read_entry: %s\n", oxtrel::message(n.error()).c_str());
        return 1;
      }
      if (*n == 0) break;
      total += *n;
    }
  }
  std::printf("%llu\n", static_cast<unsigned long long>(total));
  return 0;
}
