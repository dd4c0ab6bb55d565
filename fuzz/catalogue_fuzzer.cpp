// Loads the catalogue of arbitrary bytes from a memory file and indexes its names.

#include <unistd.h>

#include <cstdlib>

#include "archive_builder.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_hash.h"
#include "catalogue/name_index.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oxtrel;
  Result<Catalogue> loaded = loadCatalogue(testing::memoryFile(testing::Bytes(data, data + size)));
  if (!loaded) return 0;

  const Catalogue& c = *loaded;
  if (folderCount(c) != c.header.folderCount || c.nameBlockOffset + c.header.totalNameLength > size)
    std::abort();
  NameIndex index = buildNameIndex({data + c.nameBlockOffset, c.header.totalNameLength}, c.header.fileCount,
                                   requestedNameKeys(c));
  if (index.keys.size() != index.names.size() || index.text.size() > c.header.totalNameLength + 1) std::abort();
  for (const FileRecord& record : c.files)
    if (std::optional<std::string_view> name = lookup(index, record.hash); name && hashFileName(*name) != record.hash)
        std::abort();
  return 0;
}
