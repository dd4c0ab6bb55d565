#include "cli/console_lines.h"

#include <cstring>

#include "cli/json_text.h"
#include "cli/outcome_lines.h"

namespace oxtrel {

namespace {

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// Right-aligned lower-case hexadecimal padded with spaces to width 8, as "%8x" prints a 32-bit
// value (which never needs more than 8 digits).
void formatHex8(char* out, uint32_t value) {
  int i = 8;
  do {
    out[--i] = "0123456789abcdef"[value & 15];
    value >>= 4;
  } while (value != 0);
  while (i > 0) out[--i] = ' ';
}

// "%8x %8x %s\n" without printf's format parsing, which showed in profiles: one line per entry.
void printEntryLine(FILE* out, uint32_t offset, uint32_t size, std::string_view path) {
  char fields[18];
  formatHex8(fields, offset);
  fields[8] = ' ';
  formatHex8(fields + 9, size);
  fields[17] = ' ';
  std::fwrite(fields, 1, sizeof fields, out);
  writeEscaped(out, path);
  std::fputc('\n', out);
}

// prefix, then "%8x %s\n" of offset and the escaped path.
void printAtLine(FILE* out, const char* prefix, uint32_t offset, std::string_view path) {
  char hex[9];
  formatHex8(hex, offset);
  hex[8] = ' ';
  std::fputs(prefix, out);
  std::fwrite(hex, 1, sizeof hex, out);
  writeEscaped(out, path);
  std::fputc('\n', out);
}

// prefix, the escaped text, then suffix.
void printAround(FILE* out, const char* prefix, std::string_view text, const char* suffix) {
  std::fputs(prefix, out);
  writeEscaped(out, text);
  std::fputs(suffix, out);
}

// The Warning line of a record whose hash names no file.
void printUnmatched(FILE* out, uint32_t position, std::string_view folder) {
  std::fprintf(out, "Warning!!! File %d in dir ", static_cast<int>(position));
  printAround(out, "", folder, " no found\n");
}

void appendNumber(std::string& out, uint64_t value) { out.append(std::to_string(value)); }

void printJsonRecord(Console& console, const Entry& entry) {
  std::string& line = console.scratch;
  line.clear();
  line.push_back('{');
  appendJsonBytesField(line, "folder", entry.folder, "folder_hex");
  if (entry.name) {
    line.push_back(',');
    appendJsonBytesField(line, "name", *entry.name, "name_hex");
    line.append(",\"path\":");
    appendJsonString(line, entry.path);
  } else {
    line.append(",\"name\":null,\"path\":null");
  }
  line.append(",\"hash\":\"");
  appendHex(line, entry.hash);
  line.append("\",\"offset\":");
  appendNumber(line, entry.offset);
  line.append(",\"size\":");
  appendNumber(line, entry.storedSize);
  if (entry.compressed) {
    line.append(",\"unpacked_size\":");
    if (entry.unpackedSize)
      appendNumber(line, *entry.unpackedSize);
    else
      line.append("null");
  }
  line.append("}\n");
  std::fwrite(line.data(), 1, line.size(), console.listing);
}

// Erases the progress line before a line that shares its terminal.
void makeRoomForLine(Console& console) {
  if (console.progress && console.linesShareProgressTerminal) clearProgress(*console.progress);
}

}  // namespace

void writeEscaped(FILE* out, std::string_view bytes) {
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!isControl(bytes[i])) continue;
    std::fwrite(bytes.data() + start, 1, i - start, out);
    std::fprintf(out, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
    start = i + 1;
  }
  std::fwrite(bytes.data() + start, 1, bytes.size() - start, out);
}

void printEvent(Console& console, const ExtractEvent& event) {
  FILE* out = console.lines;
  if (console.progress) {
    if (event.kind == ExtractEventKind::entry) advanceProgress(*console.progress, event.size);
    bool silent = console.quiet && (event.kind == ExtractEventKind::entry || event.kind == ExtractEventKind::keptExisting);
    // An event may complete the previous record's JSON object, whatever quiet says.
    if (!silent || console.outcomes) makeRoomForLine(console);
  }
  if (console.outcomes) return noteOutcome(*console.outcomes, event);
  switch (event.kind) {
    case ExtractEventKind::entry:
      if (!console.quiet) printEntryLine(out, event.offset, event.size, event.path);
      return;
    case ExtractEventKind::unmatched: return printUnmatched(out, event.position, event.folder);
    case ExtractEventKind::unsafePath: return printAtLine(out, "Error: unsafe path at ", event.offset, event.path);
    case ExtractEventKind::truncatedPayload:
      return printAtLine(out, "Error: truncated payload at ", event.offset, event.path);
    case ExtractEventKind::unpackFailed: return printAtLine(out, "Error unpack at ", event.offset, event.path);
    case ExtractEventKind::possiblyPacked:
      return printAtLine(out, "Error: possibly packed at ", event.offset, event.path);
    case ExtractEventKind::cannotWrite:
      printAround(out, "Error: cannot write ", event.path, ": ");
      std::fprintf(out, "%s\n", std::strerror(event.error));
      return;
    case ExtractEventKind::keptExisting:
      if (!console.quiet) printAround(out, "Kept existing ", event.path, "\n");
      return;
  }
}

void printListed(Console& console, const Entry& entry) {
  if (!entry.name) printUnmatched(console.lines, entry.indexInFolder, entry.folder);
  if (console.json) return printJsonRecord(console, entry);
  if (!entry.name) return;  // its Warning line stands for it
  char unpacked[16] = "-";
  std::optional<uint32_t> size = listedUnpackedSize(entry);
  if (size) std::snprintf(unpacked, sizeof unpacked, "%u", *size);
  std::fprintf(console.listing, "%10u %10s  ", entry.storedSize, unpacked);
  writeEscaped(console.listing, consolePath(entry));
  std::fputc('\n', console.listing);
}

std::optional<uint32_t> listedUnpackedSize(const Entry& entry) {
  if (entry.compressed) return entry.unpackedSize;
  if (entry.payloadInArchive) return entry.storedSize;
  return std::nullopt;
}

void printListTotals(Console& console, uint64_t entries, uint64_t storedBytes, uint64_t unpackedBytes) {
  if (console.json) return;
  std::fprintf(console.listing, "%10llu %10llu  %llu entries\n", static_cast<unsigned long long>(storedBytes),
               static_cast<unsigned long long>(unpackedBytes), static_cast<unsigned long long>(entries));
}

void printCannotOpen(Console& console, std::string_view archivePath) {
  std::fprintf(console.lines, "cannot open %.*s\n", static_cast<int>(archivePath.size()), archivePath.data());
}

void printTruncatedCatalogue(Console& console, std::string_view archivePath) {
  std::fprintf(console.lines, "Error: truncated catalogue in %.*s\n", static_cast<int>(archivePath.size()),
               archivePath.data());
}

void printNotAnArchive(Console& console, std::string_view archivePath, std::string_view format) {
  std::fprintf(console.lines, "Error: %.*s is not a .vrk archive (it looks like a %.*s)\n",
               static_cast<int>(archivePath.size()), archivePath.data(), static_cast<int>(format.size()), format.data());
}

void printCannotReadCatalogue(Console& console, std::string_view archivePath, int error) {
  std::fprintf(console.lines, "Error: cannot read catalogue in %.*s: %s\n", static_cast<int>(archivePath.size()),
               archivePath.data(), error != 0 ? std::strerror(error) : "it ended early");
}

void printCannotOpenDirectory(Console& console, std::string_view directory, int error) {
  std::fprintf(console.lines, "cannot open directory %.*s: %s\n", static_cast<int>(directory.size()),
               directory.data(), std::strerror(error));
}

void printNoMatch(Console& console, std::string_view pattern) {
  printAround(console.lines, "Error: no entry matches ", pattern, "\n");
}

}  // namespace oxtrel
