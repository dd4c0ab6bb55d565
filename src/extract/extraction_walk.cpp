#include "extract/extraction_walk.h"

#include <cstring>
#include <string>


namespace oxtrel {

namespace {

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
void printEntryLine(FILE* console, uint32_t offset, uint32_t size, const std::string& path) {
  char fields[18];
  formatHex8(fields, offset);
  fields[8] = ' ';
  formatHex8(fields + 9, size);
  fields[17] = ' ';
  std::fwrite(fields, 1, sizeof fields, console);
  std::fputs(path.c_str(), console);
  std::fputc('\n', console);
}

void problem(RecordWalker& w, const char* format, uint32_t offset) {
  std::fprintf(w.console, format, offset, w.path.c_str());
  ++w.summary.problems;
}

void finish(RecordWalker& w, const WriteResult& written, const FileRecord& record) {
  if (written.status == WriteStatus::unsafe) return problem(w, "Error: unsafe path at %8x %s\n", record.offset);
  if (written.status == WriteStatus::failed) {
    std::fprintf(w.console, "Error: cannot write %s: %s\n", w.path.c_str(), std::strerror(written.error));
    ++w.summary.problems;
    return;
  }
  ++w.summary.written;
}

// A stored payload too large for the read-ahead window goes from the archive into its file
// inside the kernel; only its first bytes pass through here, for the possibly-packed check.
void copyStored(RecordWalker& w, const OutputPath& output, const FileRecord& record) {
  uint8_t head[6];
  if (!archiveHolds(w.archive, record.offset, record.size) || !readAt(w.archive, record.offset, head, sizeof head))
    return problem(w, "Error: truncated payload at %8x %s\n", record.offset);
  if (looksZlibPacked(head)) problem(w, "Error: possibly packed at %8x %s\n", record.offset);
  finish(w, copyOutputFile(w.tree, output, {w.archive.fd, record.offset, record.size}), record);
}

void extract(RecordWalker& w, const Folder& folder, const FileRecord& record, const std::string& name) {
  w.path.assign("data\\").append(folder.name).append("\\").append(name);
  printEntryLine(w.console, record.offset, record.size, w.path);

  OutputPath output = splitOutputPath(std::string_view(w.path).substr(5));
  if (checkOutputPath(w.tree, output) == WriteStatus::unsafe)
    return problem(w, "Error: unsafe path at %8x %s\n", record.offset);

  if (!w.compressed && record.size >= kReadAhead) return copyStored(w, output, record);

  // Nothing is sized from record.size before the archive is known to hold that many bytes.
  std::optional<std::span<const uint8_t>> bytes = readPayload(w.window, w.archive, record.offset, record.size);
  if (!bytes) return problem(w, "Error: truncated payload at %8x %s\n", record.offset);

  DecodedPayload decoded = decodePayload(w.decoder, w.compressed, *bytes);
  if (decoded.outcome == DecodeOutcome::unpackFailed)
    return problem(w, "Error unpack at %8x %s\n", record.offset);
  if (decoded.outcome == DecodeOutcome::writePossiblyPacked)
    problem(w, "Error: possibly packed at %8x %s\n", record.offset);
  finish(w, writeOutputFile(w.tree, output, decoded.bytes), record);
}

}  // namespace

void walkRecord(RecordWalker& walker, const Folder& folder, size_t recordIndex, const std::string* name) {
  if (!name) {
    std::fprintf(walker.console, "Warning!!! File %d in dir %s no found\n", int(recordIndex), folder.name.c_str());
    ++walker.summary.problems;
    return;
  }
  extract(walker, folder, folder.files[recordIndex], *name);
}

ExtractionSummary extractAll(const Catalogue& catalogue, const NameIndex& index,
                             const ArchiveFile& archive, OutputTree& tree, FILE* console) {
  RecordWalker walker{archive, tree, console, isCompressed(catalogue.header)};
  for (const Folder& folder : catalogue.folders)
    for (size_t j = 0; j < folder.files.size(); ++j) walkRecord(walker, folder, j, lookup(index, folder.files[j].hash));
  return walker.summary;
}

}  // namespace oxtrel
