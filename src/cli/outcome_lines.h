#pragma once

// The outcome of each record an extraction, test or stream run handles, as JSON Lines: one object
// per record, in table order, written once its last event has come.
//
//   {"folder":"meshes","name":"rock.nif","path":"meshes/rock.nif","offset":36,"size":5,
//    "outcome":"written"}
//
// "folder", "name" and "path" as the listing writes them (name and path null for a record whose
// hash names no file; "folder_hex" / "name_hex" when not valid UTF-8), then "offset", "size" (stored)
// and "outcome": "written" (extracted), "tested", "streamed" (-O), "kept" (-k found a file there),
// "unmatched" (no name), "unsafe path", "truncated payload", "unpack failed" or "cannot write",
// the last with "error", the system's reason. "possibly_packed": true marks a stored payload that
// starts like a compressed one (a problem, though it is still written).

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <oxtrel/archive.h>
#include <oxtrel/extract.h>

namespace oxtrel {

struct OutcomeLines {
  const Archive* archive = nullptr;
  std::vector<size_t> selected;  // the records the run handles, in table order; empty: all of them
  const char* success = "written";  // the outcome of a record with no problem
  FILE* out = stdout;
  size_t seen = 0;                // records whose first event has come
  std::optional<Entry> pending;   // the record whose events are coming
  const char* outcome = nullptr;  // its problem so far; null: none
  bool possiblyPacked = false;
  int error = 0;
  std::string line{};
};

// The records patterns and excludes select, as extract selects them; success names the outcome
// of a record that met no problem ("written", "tested", "streamed").
OutcomeLines makeOutcomeLines(const Archive& archive, const std::vector<std::string>& patterns,
                              const std::vector<std::string>& excludes, const char* success, FILE* out);

// Takes one event of the run, writing the object of the record before it when a new one begins.
void noteOutcome(OutcomeLines& lines, const ExtractEvent& event);

// Writes the last record's object. streamError: the write of the last streamed entry failed.
void finishOutcomes(OutcomeLines& lines, int streamError);

}  // namespace oxtrel
