// find_entry: opens an archive through the public interface and looks one path up, printing the
// record found ("<index in folder> <stored size>") or "none". The memory measurement runs it to
// show what a lookup costs on a large catalogue.

#include <oxtrel/oxtrel.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: find_entry <archive> <path>\n");
    return 2;
  }
  oxtrel::Result<oxtrel::Archive> archive = oxtrel::openArchive(argv[1]);
  if (!archive) {
    std::fprintf(stderr, "find_entry: %s\n", oxtrel::message(archive.error()).c_str());
    return 1;
  }
  auto found = oxtrel::findEntry(*archive, argv[2]);
  if (!found) return std::puts("none") == EOF ? 1 : 0;
  return std::printf("%u %u\n", found->indexInFolder, found->storedSize) < 0 ? 1 : 0;
}
