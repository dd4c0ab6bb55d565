#pragma once

// Describes the selected records without extracting them: for each, its name, sizes and where
// its payload lies. Only the catalogue is read, plus the 4-byte size prefix of each payload of a
// compressed archive.

#include <cstdint>
#include <optional>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/entry_selection.h"
#include "extract/extraction_events.h"
#include "io/positional_file.h"

namespace oxtrel {

struct ListingSummary {
  uint64_t entries = 0;   // named records listed
  uint64_t problems = 0;  // unmatched records
};

// The payload's size prefix (compressed) or its size (stored); nullopt when the payload does not
// lie wholly inside the archive or is too short to hold a prefix.
std::optional<uint32_t> unpackedSize(const PositionalFile& archive, const FileRecord& record, bool compressed);

// Per selected record in table order: unmatched (when the hash names no file), then listed, with
// unpackedSize the payload's size prefix (compressed) or its size (stored), nullopt when the
// payload does not lie wholly inside the archive. Then one listTotals.
ListingSummary listArchive(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                           const EntrySelection& selection, const EventSink& sink);

}  // namespace oxtrel
