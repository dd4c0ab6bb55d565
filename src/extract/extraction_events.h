#pragma once

// What the walk reports, as values: each entry is described by events, in table order. Events
// name bytes owned by the catalogue or the walk, valid only during the call.

#include <cstdint>
#include <string_view>

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
};

struct ExtractionEvent {
  EventKind kind = EventKind::entry;
  uint32_t offset = 0;
  uint32_t size = 0;
  std::string_view path;    // "data\<folder>\<name>"
  std::string_view folder;
  uint32_t position = 0;    // the record's 0-based position in its folder
  int error = 0;            // errno
};

// Receives events in table order; a plain function and its context, so any caller can listen.
struct EventSink {
  void (*handle)(void* context, const ExtractionEvent& event) = nullptr;
  void* context = nullptr;
};

inline void emit(const EventSink& sink, const ExtractionEvent& event) { sink.handle(sink.context, event); }

}  // namespace oxtrel
