#pragma once

// The console: turns a run's events into its lines.
//
//   "%8x %8x %s\n"                            entry: offset, size, path (not with quiet)
//   "Warning!!! File %d in dir %s no found\n" unmatched: position in the folder, folder
//   "Error: unsafe path at %8x %s\n"
//   "Error: truncated payload at %8x %s\n"
//   "Error unpack at %8x %s\n"
//   "Error: possibly packed at %8x %s\n"
//   "Error: cannot write %s: %s\n"            path, the system's reason
//   "Kept existing %s\n"                      path (not with quiet)
//   "Error: no entry matches %s\n"            pattern
//   "Error: truncated catalogue in %s\n"      archive path
//   "cannot open %s\n"                        archive path
//   "cannot open directory %s: %s\n"          directory, the system's reason
// "%8x" is lower-case hexadecimal padded with spaces to eight places. In every folder name, file
// name, path and pattern, each control byte (0x00-0x1F, 0x7F) is written as \xNN (lower-case
// hexadecimal), so a crafted name cannot forge or erase lines on a terminal; other bytes are
// written as they are.
//
// Listing (on the listing stream): per named entry "%10u %10s  %s\n" (stored size, unpacked size
// or "-" when the payload is out of range, path), then "%10llu %10llu  %llu entries\n" (stored and
// unpacked totals, entry count). As JSON Lines: one object per record (unmatched ones too) with
// "folder", "name" (null when unmatched), "path" (folder/name with '/' separators, null when
// unmatched), "hash" (16 hex digits, the bytes in file order), "offset", "size" and, for a
// compressed archive, "unpacked_size" (null when out of range); a folder or name that is not
// valid UTF-8 also comes whole as "folder_hex" / "name_hex". No totals line.

#include <cstdio>
#include <string>
#include <string_view>

#include "cli/progress_line.h"
#include "extract/extraction_events.h"

namespace oxtrel {

struct Console {
  FILE* lines = stdout;    // entry, Warning, Error and Kept lines
  FILE* listing = stdout;  // listing and JSON lines
  bool quiet = false;
  bool json = false;
  ProgressLine* progress = nullptr;  // drawn on its own stream when set
  bool linesShareProgressTerminal = false;  // the progress line is erased before each line
  std::string scratch{};   // a JSON line being built
};

void printEvent(Console& console, const ExtractionEvent& event);

EventSink consoleSink(Console& console);

// bytes with each control byte written as \xNN.
void writeEscaped(FILE* out, std::string_view bytes);

}  // namespace oxtrel
