#pragma once

// The console: the lines a run prints, made from the library's events and entries.
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
//   "Error: %s is not a .vrk archive (it looks like a %s)\n"  archive path, e.g. "tar archive"
//   "Error: cannot read catalogue in %s: %s\n" archive path, the system's reason ("it ended early"
//                                             when the file shrank under the run)
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

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <oxtrel/archive.h>
#include <oxtrel/extract.h>

#include "cli/progress_line.h"

namespace oxtrel {

struct OutcomeLines;

struct Console {
  FILE* lines = stdout;    // entry, Warning, Error and Kept lines
  FILE* listing = stdout;  // listing and JSON lines
  bool quiet = false;
  bool json = false;
  ProgressLine* progress = nullptr;  // drawn on its own stream when set
  bool linesShareProgressTerminal = false;  // the progress line is erased before each line
  std::string scratch{};   // a JSON line being built
  OutcomeLines* outcomes = nullptr;  // when set, events become its JSON objects instead of lines
};

// One event of an extraction, test or stream run: its line, or its part of a JSON object.
void printEvent(Console& console, const ExtractEvent& event);

// The listing's line for one selected entry (nothing for an unnamed one outside JSON: its Warning
// line stands for it), then the totals line (not in JSON).
void printListed(Console& console, const Entry& entry);
// The listing's unpacked size: what the prefix announces (compressed) or the stored size, none when
// the payload does not lie wholly inside the archive.
std::optional<uint32_t> listedUnpackedSize(const Entry& entry);
void printListTotals(Console& console, uint64_t entries, uint64_t storedBytes, uint64_t unpackedBytes);

// The lines that say why a run could not begin, and the one for a pattern that selected nothing.
void printCannotOpen(Console& console, std::string_view archivePath);
void printTruncatedCatalogue(Console& console, std::string_view archivePath);
void printNotAnArchive(Console& console, std::string_view archivePath, std::string_view format);
void printCannotReadCatalogue(Console& console, std::string_view archivePath, int error);
void printCannotOpenDirectory(Console& console, std::string_view directory, int error);
void printNoMatch(Console& console, std::string_view pattern);

// bytes with each control byte written as \xNN.
void writeEscaped(FILE* out, std::string_view bytes);

}  // namespace oxtrel
