#pragma once

// What a run reports, as values: the walk and the listing describe each entry by events, and one
// console module turns them into lines. Events name bytes owned by the catalogue or the walk,
// valid only during the call.

#include <cstdint>
#include <optional>
#include <string_view>

#include "catalogue/archive_records.h"

namespace oxtrel {

enum class EventKind {
  entry,               // an entry is about to be handled: offset, size, path
  unmatched,           // the record's hash names no file: folder, position
  unsafePath,          // offset, path
  truncatedPayload,    // offset, path
  unpackFailed,        // offset, path
  possiblyPacked,      // offset, path; the entry is still written
  cannotWrite,         // path, error
  keptExisting,        // path: a file already there was left alone
  listed,              // list modes: folder, name (when named), hash, offset, size, unpackedSize
  listTotals,          // list modes: totalEntries, totalStored, totalUnpacked
  selected,            // before payload work: totalEntries and totalStored of the selection
  finished,            // after the walk
  noMatch,             // path holds a pattern that selected nothing
  cannotOpen,          // path holds the archive's path
  cannotOpenDirectory, // path holds the directory, error
  truncatedCatalogue,  // path holds the archive's path
};

struct ExtractionEvent {
  EventKind kind = EventKind::entry;
  uint32_t offset = 0;
  uint32_t size = 0;
  std::string_view path;    // "data\<folder>\<name>", or as the kind says
  std::string_view folder;
  std::string_view name;
  bool named = false;       // name is the record's file name (list modes)
  NameHash hash{};
  uint32_t position = 0;    // the record's 0-based position in its folder
  std::optional<uint32_t> unpackedSize;  // nullopt when the payload is out of range
  bool compressed = false;
  int error = 0;            // errno
  uint64_t totalEntries = 0;
  uint64_t totalStored = 0;
  uint64_t totalUnpacked = 0;
};

// Receives events in table order; a plain function and its context, so any caller can listen.
struct EventSink {
  void (*handle)(void* context, const ExtractionEvent& event) = nullptr;
  void* context = nullptr;
};

inline void emit(const EventSink& sink, const ExtractionEvent& event) { sink.handle(sink.context, event); }

}  // namespace oxtrel
