#include "pack/archive_writer.h"

#include <algorithm>
#include <new>

#include "catalogue/payload_format.h"
#include "io/positional_file.h"
#include "pack/catalogue_tables.h"
#include "pack/temporary_output.h"

namespace oxtrel {

namespace {

constexpr size_t kCopyChunk = size_t(1) << 20;

struct WriteRun {
  TemporaryOutput output;
  libdeflate_compressor* compressor = nullptr;  // null when payloads are stored
  uint64_t position = 0;                        // where the next payload goes
  uint64_t bytesIn = 0;
  std::vector<uint8_t> buffer;
  std::vector<PayloadPlacement> placements;
  std::vector<std::string> notes;
};

Error tooLarge(const std::string& what) {
  return {ErrorKind::tooLarge, 0, what + ", past the " + std::to_string(kMaxArchiveSize) + " bytes an archive can hold"};
}

// A compressed payload records the unpacked size in 32 bits too, so no file may pass the limit.
Error oversizedFile(const PlannedFile& file, uint64_t size) {
  return tooLarge("'" + file.path + "' is " + std::to_string(size) + " bytes");
}

Status checkScannedSizes(const CataloguePlan& plan, bool compressed) {
  uint64_t total = tablesLength(plan);
  if (total > kMaxArchiveSize) return tooLarge("the tables alone would take " + std::to_string(total) + " bytes");
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) {
      if (compressed && file.size > kMaxArchiveSize) return oversizedFile(file, file.size);
      total += compressed ? 0 : file.size;
    }
  if (total > kMaxArchiveSize) return tooLarge("the archive would take " + std::to_string(total) + " bytes");
  return {};
}

// Names the file in a failure of the positional-file layer.
Error about(const PlannedFile& file, Error error) {
  if (error.kind == ErrorKind::cannotOpen) error.kind = ErrorKind::cannotRead;
  error.where = "'" + file.path + "'";
  return error;
}

Status checkRoom(const WriteRun& run, const PlannedFile& file, uint64_t storedSize) {
  if (storedSize <= kMaxArchiveSize - run.position) return {};
  return tooLarge("with '" + file.path + "' the archive would take " + std::to_string(run.position + storedSize) +
                  " bytes");
}

Status appendCompressed(WriteRun& run, const PositionalFile& source, const PlannedFile& file, uint64_t& storedSize) {
  if (source.size > kMaxArchiveSize) return oversizedFile(file, source.size);
  run.buffer.resize(size_t(source.size));
  if (Status read = readAt(source, 0, run.buffer); !read) return about(file, std::move(read.error()));
  std::vector<uint8_t> payload = compressPayload(run.compressor, run.buffer.data(), run.buffer.size());
  storedSize = payload.size();
  if (Status room = checkRoom(run, file, storedSize); !room) return room;
  return writeOutputAt(run.output, run.position, payload.data(), payload.size());
}

Status appendStored(WriteRun& run, const PositionalFile& source, const PlannedFile& file, uint64_t& storedSize) {
  storedSize = source.size;
  if (Status room = checkRoom(run, file, storedSize); !room) return room;
  run.buffer.resize(size_t(std::min<uint64_t>(source.size, kCopyChunk)));
  for (uint64_t done = 0; done < source.size;) {
    std::span<uint8_t> chunk(run.buffer.data(), size_t(std::min<uint64_t>(source.size - done, kCopyChunk)));
    if (Status read = readAt(source, done, chunk); !read) return about(file, std::move(read.error()));
    if (done == 0 && looksZlibPacked(chunk))
      run.notes.push_back(file.path +
                          ": its bytes 4 and 5 are those of a compressed payload; oxtrel extracts "
                          "it unchanged but reports it as possibly packed and exits 1 (--compress "
                          "avoids this)");
    if (Status written = writeOutputAt(run.output, run.position + done, chunk.data(), chunk.size()); !written)
      return written;
    done += chunk.size();
  }
  return {};
}

Status appendPayload(WriteRun& run, const PlannedFile& file) {
  // No link is followed, and a file swapped for a FIFO since the scan does not block the open.
  Result<PositionalFile> source = openPositionalFile(file.path.c_str(), true);
  if (!source) return about(file, std::move(source.error()));
  uint64_t storedSize = 0;
  Status appended = run.compressor ? appendCompressed(run, *source, file, storedSize)
                                   : appendStored(run, *source, file, storedSize);
  run.bytesIn += source->size;
  if (!appended) return appended;
  run.placements.push_back({uint32_t(storedSize), uint32_t(run.position)});
  run.position += storedSize;
  return {};
}

}  // namespace

PackReport writeArchive(const CataloguePlan& plan, const PackOptions& options,
                        const std::string& archivePath) {
  PackReport report;
  report.folderCount = uint32_t(plan.folders.size());
  report.fileCount = plan.fileCount;
  report.status = checkScannedSizes(plan, options.compress);
  if (!report.status) return report;

  WriteRun run;
  report.status = createTemporaryOutput(archivePath, run.output);
  if (!report.status) return report;
  Compressor compressor;
  if (options.compress) {
    compressor = makeCompressor(options.level);
    if (!compressor) throw std::bad_alloc();
    run.compressor = compressor.get();
  }
  run.position = tablesLength(plan);
  run.placements.reserve(plan.fileCount);

  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) {
      report.status = appendPayload(run, file);
      if (!report.status) return report;
    }

  std::vector<uint8_t> tables = encodeTables(plan, options.compress, run.placements);
  report.status = writeOutputAt(run.output, 0, tables.data(), tables.size());
  if (report.status) report.status = commitOutput(run.output);
  report.notes = std::move(run.notes);
  report.bytesIn = run.bytesIn;
  report.bytesOut = run.position;
  return report;
}

}  // namespace oxtrel
