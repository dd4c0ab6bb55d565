#include "extract/archive_listing.h"

#include <string>

#include "catalogue/entry_path.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel {

std::optional<uint32_t> unpackedSize(const PositionalFile& archive, const FileRecord& record, bool compressed) {
  if (!fileHolds(archive, record.offset, record.size)) return std::nullopt;
  if (!compressed) return record.size;
  uint8_t prefix[kUnpackedSizeBytes];
  if (record.size < sizeof prefix || !readAt(archive, record.offset, prefix)) return std::nullopt;
  return loadLe32(prefix);
}

ListingSummary listArchive(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                           const EntrySelection& selection, const EventSink& sink) {
  ListingSummary summary;
  bool compressed = isCompressed(catalogue.header);
  ExtractionEvent totals;
  totals.kind = EventKind::listTotals;
  std::string path;
  size_t position = 0;
  for (const Folder& folder : catalogue.folders) {
    for (size_t j = 0; j < folder.files.size(); ++j, ++position) {
      if (!isSelected(selection, position)) continue;
      const FileRecord& record = folder.files[j];
      std::optional<std::string_view> name = lookup(index, record.hash);
      ExtractionEvent event;
      event.folder = folder.name;
      event.position = uint32_t(j);
      event.hash = record.hash;
      event.offset = record.offset;
      event.size = record.size;
      event.compressed = compressed;
      if (!name) {
        event.kind = EventKind::unmatched;
        emit(sink, event);
        ++summary.problems;
      } else {
        composeEntryPath(path, folder.name, *name);
        event.path = path;
        event.name = *name;
        event.named = true;
        ++summary.entries;
        ++totals.totalEntries;
      }
      event.kind = EventKind::listed;
      event.unpackedSize = unpackedSize(archive, record, compressed);
      emit(sink, event);
      if (name) {
        totals.totalStored += record.size;
        totals.totalUnpacked += event.unpackedSize.value_or(0);
      }
    }
  }
  emit(sink, totals);
  return summary;
}

}  // namespace oxtrel
