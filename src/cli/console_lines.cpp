#include "cli/console_lines.h"

#include <cstring>

#include "cli/json_text.h"
#include "extract/path_pattern.h"

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

void appendNumber(std::string& out, uint64_t value) { out.append(std::to_string(value)); }

void appendJsonField(std::string& out, const char* key, std::string_view bytes, const char* hexKey) {
  out.append(",\"").append(key).append("\":");
  appendJsonString(out, bytes);
  if (isValidUtf8(bytes)) return;
  out.append(",\"").append(hexKey).append("\":\"");
  appendHex(out, {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  out.push_back('"');
}

void printJsonRecord(Console& console, const ExtractionEvent& event) {
  std::string& line = console.scratch;
  line.assign("{\"folder\":");
  appendJsonString(line, event.folder);
  if (!isValidUtf8(event.folder)) {
    line.append(",\"folder_hex\":\"");
    appendHex(line, {reinterpret_cast<const uint8_t*>(event.folder.data()), event.folder.size()});
    line.push_back('"');
  }
  if (event.named) {
    appendJsonField(line, "name", event.name, "name_hex");
    line.append(",\"path\":");
    appendJsonString(line, patternPath(event.folder, event.name));
  } else {
    line.append(",\"name\":null,\"path\":null");
  }
  line.append(",\"hash\":\"");
  appendHex(line, event.hash);
  line.append("\",\"offset\":");
  appendNumber(line, event.offset);
  line.append(",\"size\":");
  appendNumber(line, event.size);
  if (event.compressed) {
    line.append(",\"unpacked_size\":");
    if (event.unpackedSize)
      appendNumber(line, *event.unpackedSize);
    else
      line.append("null");
  }
  line.append("}\n");
  std::fwrite(line.data(), 1, line.size(), console.listing);
}

void printListed(Console& console, const ExtractionEvent& event) {
  if (console.json) return printJsonRecord(console, event);
  if (!event.named) return;  // its Warning line stands for it
  char unpacked[16] = "-";
  if (event.unpackedSize) std::snprintf(unpacked, sizeof unpacked, "%u", *event.unpackedSize);
  std::fprintf(console.listing, "%10u %10s  ", event.size, unpacked);
  writeEscaped(console.listing, event.path);
  std::fputc('\n', console.listing);
}

void handle(void* context, const ExtractionEvent& event) { printEvent(*static_cast<Console*>(context), event); }

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

void printEvent(Console& console, const ExtractionEvent& event) {
  FILE* out = console.lines;
  ProgressLine* progress = console.progress;
  if (progress) {
    if (event.kind == EventKind::selected) return startProgress(*progress, event.totalEntries, event.totalStored);
    if (event.kind == EventKind::entry) advanceProgress(*progress, event.size);
    if (event.kind == EventKind::finished) return clearProgress(*progress);
    bool silent = console.quiet && (event.kind == EventKind::entry || event.kind == EventKind::keptExisting);
    if (!silent && console.linesShareProgressTerminal) clearProgress(*progress);
  }
  switch (event.kind) {
    case EventKind::entry:
      if (!console.quiet) printEntryLine(out, event.offset, event.size, event.path);
      return;
    case EventKind::unmatched:
      std::fprintf(out, "Warning!!! File %d in dir ", static_cast<int>(event.position));
      return printAround(out, "", event.folder, " no found\n");
    case EventKind::unsafePath: return printAtLine(out, "Error: unsafe path at ", event.offset, event.path);
    case EventKind::truncatedPayload: return printAtLine(out, "Error: truncated payload at ", event.offset, event.path);
    case EventKind::unpackFailed: return printAtLine(out, "Error unpack at ", event.offset, event.path);
    case EventKind::possiblyPacked: return printAtLine(out, "Error: possibly packed at ", event.offset, event.path);
    case EventKind::cannotWrite:
      printAround(out, "Error: cannot write ", event.path, ": ");
      std::fprintf(out, "%s\n", std::strerror(event.error));
      return;
    case EventKind::keptExisting:
      if (!console.quiet) printAround(out, "Kept existing ", event.path, "\n");
      return;
    case EventKind::listed: return printListed(console, event);
    case EventKind::listTotals:
      if (!console.json)
        std::fprintf(console.listing, "%10llu %10llu  %llu entries\n",
                     static_cast<unsigned long long>(event.totalStored),
                     static_cast<unsigned long long>(event.totalUnpacked),
                     static_cast<unsigned long long>(event.totalEntries));
      return;
    case EventKind::noMatch: return printAround(out, "Error: no entry matches ", event.path, "\n");
    case EventKind::truncatedCatalogue:
      std::fprintf(out, "Error: truncated catalogue in %.*s\n", static_cast<int>(event.path.size()), event.path.data());
      return;
    case EventKind::cannotOpen:
      std::fprintf(out, "cannot open %.*s\n", static_cast<int>(event.path.size()), event.path.data());
      return;
    case EventKind::cannotOpenDirectory:
      std::fprintf(out, "cannot open directory %.*s: %s\n", static_cast<int>(event.path.size()), event.path.data(),
                   std::strerror(event.error));
      return;
    case EventKind::selected:
    case EventKind::finished: return;
  }
}

EventSink consoleSink(Console& console) { return {handle, &console}; }

}  // namespace oxtrel
