#include "extract/extraction_walk.h"

#include <climits>
#include <cstring>
#include <string>

#include "extract/payload_decoder.h"
#include "extract/payload_window.h"
#include "extract/stop_signals.h"

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

struct Walk {
  const ArchiveFile& archive;
  OutputTree& tree;
  FILE* console;
  bool compressed;
  PayloadDecoder decoder = makePayloadDecoder();
  PayloadWindow window{};
  std::string path{};  // "data\" + folder + "\" + name, reused for every entry
  ExtractionSummary summary{};

  void problem(const char* format, uint32_t offset) {
    std::fprintf(console, format, offset, path.c_str());
    ++summary.problems;
  }

  void extract(const Folder& folder, const FileRecord& record, std::string_view name) {
    path.assign("data\\").append(folder.name).append("\\").append(name);
    printEntryLine(console, record.offset, record.size, path);

    OutputPath output = splitOutputPath(std::string_view(path).substr(5));
    if (output.hasDotDot) return problem("Error: unsafe path at %8x %s\n", record.offset);
    // The system could not name it whole; walking it piece by piece would only cost time.
    if (path.size() >= PATH_MAX) return finish({WriteStatus::failed, ENAMETOOLONG}, record);
    if (checkOutputPath(tree, output) == WriteStatus::unsafe)
      return problem("Error: unsafe path at %8x %s\n", record.offset);

    if (!compressed && record.size >= kReadAhead) return copyStored(output, record);

    // Nothing is sized from record.size before the archive is known to hold that many bytes.
    std::optional<std::span<const uint8_t>> bytes = readPayload(window, archive, record.offset, record.size);
    if (!bytes) return problem("Error: truncated payload at %8x %s\n", record.offset);

    DecodedPayload decoded = decodePayload(decoder, compressed, *bytes);
    if (decoded.outcome == DecodeOutcome::unpackFailed)
      return problem("Error unpack at %8x %s\n", record.offset);
    if (decoded.outcome == DecodeOutcome::writePossiblyPacked)
      problem("Error: possibly packed at %8x %s\n", record.offset);
    finish(writeOutputFile(tree, output, decoded.bytes), record);
  }

  // A stored payload too large for the read-ahead window goes from the archive into its file
  // inside the kernel; only its first bytes pass through here, for the possibly-packed check.
  void copyStored(const OutputPath& output, const FileRecord& record) {
    uint8_t head[6];
    if (!archiveHolds(archive, record.offset, record.size) || !readAt(archive, record.offset, head, sizeof head))
      return problem("Error: truncated payload at %8x %s\n", record.offset);
    if (looksZlibPacked(head)) problem("Error: possibly packed at %8x %s\n", record.offset);
    finish(copyOutputFile(tree, output, {archive.fd, record.offset, record.size}), record);
  }

  void finish(const WriteResult& written, const FileRecord& record) {
    if (written.status == WriteStatus::unsafe) return problem("Error: unsafe path at %8x %s\n", record.offset);
    if (written.status == WriteStatus::failed) {
      std::fprintf(console, "Error: cannot write %s: %s\n", path.c_str(), std::strerror(written.error));
      ++summary.problems;
      return;
    }
    ++summary.written;
  }
};

}  // namespace

ExtractionSummary extractAll(const Catalogue& catalogue, const NameIndex& index,
                             const ArchiveFile& archive, OutputTree& tree, FILE* console) {
  Walk walk{archive, tree, console, isCompressed(catalogue.header)};
  for (const Folder& folder : catalogue.folders) {
    for (size_t j = 0; j < folder.files.size(); ++j) {
      if ((walk.summary.stoppedBy = stopSignal()) != 0) return walk.summary;
      std::optional<std::string_view> name = lookup(index, folder.files[j].hash);
      if (!name) {
        std::fprintf(console, "Warning!!! File %d in dir %s no found\n", int(j), folder.name.c_str());
        ++walk.summary.problems;
        continue;
      }
      walk.extract(folder, folder.files[j], *name);
    }
  }
  return walk.summary;
}

}  // namespace oxtrel
