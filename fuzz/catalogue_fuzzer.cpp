// Loads the catalogue of arbitrary bytes from a memory file and indexes its names.

#include <unistd.h>

#include <cstdlib>

#include "archive_builder.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oxtrel;
  int fd = testing::memoryFile(testing::Bytes(data, data + size));
  LoadResult loaded = loadCatalogue(archiveFromDescriptor(fd).file);
  close(fd);
  if (loaded.status != LoadStatus::ok) return 0;

  const Catalogue& c = loaded.catalogue;
  if (c.folders.size() != c.header.folderCount || c.folderRecords.size() != c.folders.size() ||
      c.nameBlockOffset + c.header.totalNameLength > size)
    std::abort();
  NameIndex index = buildNameIndex({data + c.nameBlockOffset, c.header.totalNameLength}, c.header.fileCount,
                                   requestedNameKeys(c));
  if (index.keys.size() != index.names.size() || index.text.size() > c.header.totalNameLength) std::abort();
  for (const Folder& folder : c.folders)
    for (const FileRecord& record : folder.files)
      if (std::optional<std::string_view> name = lookup(index, record.hash); name && testing::hashOfName(*name) != record.hash)
        std::abort();
  return 0;
}
