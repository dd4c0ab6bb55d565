#include "pack/archive_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "catalogue/archive_file.h"
#include "pack/catalogue_tables.h"
#include "pack/temporary_output.h"
#include "parallel/ordered_jobs.h"

namespace oxtrel {

namespace {

constexpr size_t kCopyChunk = size_t(1) << 20;

struct WriteRun {
  TemporaryOutput output;
  uint64_t position = 0;                        // where the next payload goes
  uint64_t bytesIn = 0;
  std::vector<uint8_t> buffer;
  std::vector<PayloadPlacement> placements;
  std::vector<std::string> notes;
};

PackFailure tooLarge(const std::string& what) {
  return {PackFailureKind::tooLarge,
          what + ", past the " + std::to_string(kMaxArchiveSize) + " bytes an archive can hold"};
}

// A compressed payload records the unpacked size in 32 bits too, so no file may pass the limit.
PackFailure oversizedFile(const PlannedFile& file, uint64_t size) {
  return tooLarge("'" + file.path + "' is " + std::to_string(size) + " bytes");
}

PackFailure unreadable(const std::string& path, int error) {
  return {PackFailureKind::unreadable, "cannot read '" + path + "': " + std::strerror(error)};
}

PackFailure checkScannedSizes(const CataloguePlan& plan, bool compressed) {
  uint64_t total = tablesLength(plan);
  if (total > kMaxArchiveSize)
    return tooLarge("the tables alone would take " + std::to_string(total) + " bytes");
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) {
      if (compressed && file.size > kMaxArchiveSize) return oversizedFile(file, file.size);
      total += compressed ? 0 : file.size;
    }
  if (total > kMaxArchiveSize)
    return tooLarge("the archive would take " + std::to_string(total) + " bytes");
  return {};
}

PackFailure openSource(const PlannedFile& file, ArchiveFile& source) {
  // O_NONBLOCK keeps a file swapped for a FIFO since the scan from blocking the open.
  int fd = open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return unreadable(file.path, errno);
  OpenArchiveResult opened = archiveFromDescriptor(fd);
  if (opened.error != 0) {
    close(fd);
    return unreadable(file.path, opened.error);
  }
  source = opened.file;
  return {};
}

PackFailure readSource(const ArchiveFile& source, const PlannedFile& file, uint64_t offset,
                       uint8_t* dst, size_t length) {
  errno = 0;
  if (readAt(source, offset, dst, length)) return {};
  if (errno != 0) return unreadable(file.path, errno);
  return {PackFailureKind::unreadable, "cannot read '" + file.path + "': it shrank while being packed"};
}

PackFailure checkRoom(const WriteRun& run, const PlannedFile& file, uint64_t storedSize) {
  if (storedSize <= kMaxArchiveSize - run.position) return {};
  return tooLarge("with '" + file.path + "' the archive would take " +
                  std::to_string(run.position + storedSize) + " bytes");
}

PackFailure appendStored(WriteRun& run, const ArchiveFile& source, const PlannedFile& file,
                         uint64_t& storedSize) {
  storedSize = source.size;
  PackFailure failure = checkRoom(run, file, storedSize);
  if (failed(failure)) return failure;
  run.buffer.resize(size_t(std::min<uint64_t>(source.size, kCopyChunk)));
  for (uint64_t done = 0; done < source.size;) {
    size_t length = size_t(std::min<uint64_t>(source.size - done, kCopyChunk));
    failure = readSource(source, file, done, run.buffer.data(), length);
    if (failed(failure)) return failure;
    if (done == 0 && length >= 6 && run.buffer[4] == 0x78 && run.buffer[5] == 0x9C)
      run.notes.push_back(file.path +
                          ": its bytes 4 and 5 are those of a compressed payload; oxtrel extracts "
                          "it unchanged but reports it as possibly packed and exits 1 (--compress "
                          "avoids this)");
    failure = writeOutputAt(run.output, run.position + done, run.buffer.data(), length);
    if (failed(failure)) return failure;
    done += length;
  }
  return {};
}

void place(WriteRun& run, uint64_t storedSize) {
  run.placements.push_back({uint32_t(storedSize), uint32_t(run.position)});
  run.position += storedSize;
}

// Stored payloads are copied a chunk at a time, so no file is ever held whole in memory.
PackFailure appendStoredFiles(WriteRun& run, const std::vector<const PlannedFile*>& files) {
  for (const PlannedFile* file : files) {
    ArchiveFile source;
    PackFailure failure = openSource(*file, source);
    if (failed(failure)) return failure;
    uint64_t storedSize = 0;
    failure = appendStored(run, source, *file, storedSize);
    run.bytesIn += source.size;
    closeArchive(source);
    if (failed(failure)) return failure;
    place(run, storedSize);
  }
  return {};
}

// What a worker makes of one file when payloads are compressed.
struct CompressedFile {
  PackFailure failure;
  uint64_t sizeRead = 0;  // the file's size when it was opened
  std::vector<uint8_t> payload;
};

struct CompressionContext {
  Compressor compressor;
  std::vector<uint8_t> buffer;  // the file's bytes; kept for the worker's next file
};

CompressionContext makeCompressionContext(int level) {
  CompressionContext context{makeCompressor(level), {}};
  if (!context.compressor) throw std::bad_alloc();
  return context;
}

CompressedFile compressFile(CompressionContext& context, const PlannedFile& file) {
  CompressedFile result;
  ArchiveFile source;
  result.failure = openSource(file, source);
  if (failed(result.failure)) return result;
  result.sizeRead = source.size;
  if (source.size > kMaxArchiveSize) {
    result.failure = oversizedFile(file, source.size);
  } else {
    context.buffer.resize(size_t(source.size));
    result.failure = readSource(source, file, 0, context.buffer.data(), context.buffer.size());
    if (!failed(result.failure))
      result.payload = compressPayload(context.compressor.get(), context.buffer.data(), context.buffer.size());
  }
  closeArchive(source);
  return result;
}

// Files are read and compressed on options.jobs threads and written in table order as each
// becomes next, so the archive is the same whatever the count, and at most the engine's window
// of compressed payloads waits in memory. The first failure in table order is the one reported.
PackFailure appendCompressedFiles(WriteRun& run, const std::vector<const PlannedFile*>& files,
                                  const PackOptions& options) {
  PackFailure failure;
  runOrderedJobs(
      files.size(), {.jobs = options.jobs}, [&] { return makeCompressionContext(options.level); },
      [&](CompressionContext& context, size_t i) { return compressFile(context, *files[i]); },
      [&](size_t i, CompressedFile&& compressed) {
        run.bytesIn += compressed.sizeRead;
        failure = std::move(compressed.failure);
        if (!failed(failure)) failure = checkRoom(run, *files[i], compressed.payload.size());
        if (!failed(failure))
          failure = writeOutputAt(run.output, run.position, compressed.payload.data(), compressed.payload.size());
        if (failed(failure)) return false;
        place(run, compressed.payload.size());
        return true;
      });
  return failure;
}

}  // namespace

PackReport writeArchive(const CataloguePlan& plan, const PackOptions& options,
                        const std::string& archivePath) {
  PackReport report;
  report.folderCount = uint32_t(plan.folders.size());
  report.fileCount = plan.fileCount;
  report.failure = checkScannedSizes(plan, options.compress);
  if (failed(report.failure)) return report;

  WriteRun run;
  report.failure = createTemporaryOutput(archivePath, run.output);
  if (failed(report.failure)) return report;
  run.position = tablesLength(plan);
  run.placements.reserve(plan.fileCount);

  std::vector<const PlannedFile*> files;
  files.reserve(plan.fileCount);
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) files.push_back(&file);
  report.failure = options.compress ? appendCompressedFiles(run, files, options) : appendStoredFiles(run, files);
  if (failed(report.failure)) return report;

  std::vector<uint8_t> tables = encodeTables(plan, options.compress, run.placements);
  report.failure = writeOutputAt(run.output, 0, tables.data(), tables.size());
  if (!failed(report.failure)) report.failure = commitOutput(run.output);
  report.notes = std::move(run.notes);
  report.bytesIn = run.bytesIn;
  report.bytesOut = run.position;
  return report;
}

}  // namespace oxtrel
