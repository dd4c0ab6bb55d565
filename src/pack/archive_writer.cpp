#include "pack/archive_writer.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <span>
#include <utility>

#include "catalogue/payload_format.h"
#include "io/positional_file.h"
#include "pack/catalogue_tables.h"
#include "pack/pack_stop.h"
#include "pack/temporary_output.h"
#include "parallel/job_batches.h"
#include "parallel/ordered_jobs.h"

namespace oxtrel {

namespace {

constexpr size_t kCopyChunk = size_t(1) << 20;

struct WriteRun {
  TemporaryOutput output;
  platform::PublishOptions copyOptions;  // for kept payloads
  const std::function<void(std::string_view)>* onStep = nullptr;
  uint64_t position = 0;  // where the next payload goes
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

void stepDone(const WriteRun& run, std::string_view step) {
  if (run.onStep && *run.onStep) (*run.onStep)(step);
}

// A kept payload's stored size is known; a file to compress has only an upper bound.
Status checkScannedSizes(const CataloguePlan& plan, bool compressed) {
  uint64_t total = tablesLength(plan);
  if (total > kMaxArchiveSize) return tooLarge("the tables alone would take " + std::to_string(total) + " bytes");
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) {
      if (compressed && !file.kept && file.size > kMaxArchiveSize) return oversizedFile(file, file.size);
      total += compressed && !file.kept ? 0 : file.size;
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

// No link is followed, and a file swapped for a FIFO since the scan does not block the open. A
// file given in memory has no descriptor, only its size.
Result<PositionalFile> openSource(const PlannedFile& file) {
  if (file.contents) return PositionalFile{platform::File(), file.contents->size()};
  Result<PositionalFile> source = openPositionalFile(file.path.c_str(), true);
  if (!source) return about(file, std::move(source.error()));
  return source;
}

Status readSource(const PlannedFile& file, const PositionalFile& source, uint64_t offset, std::span<uint8_t> dst) {
  if (file.contents) {
    std::copy_n(file.contents->begin() + std::ptrdiff_t(offset), dst.size(), dst.begin());
    return {};
  }
  if (Status read = readAt(source, offset, dst); !read) return about(file, std::move(read.error()));
  return {};
}

Status checkRoom(const WriteRun& run, const PlannedFile& file, uint64_t storedSize) {
  if (storedSize <= kMaxArchiveSize - run.position) return {};
  return tooLarge("with '" + file.path + "' the archive would take " + std::to_string(run.position + storedSize) +
                  " bytes");
}

void place(WriteRun& run, uint64_t storedSize) {
  run.placements.push_back({uint32_t(storedSize), uint32_t(run.position)});
  run.position += storedSize;
  stepDone(run, "payload");
}

// Large enough that the system copies efficiently, small enough that a stop is seen soon.
constexpr uint64_t kKeptCopyChunk = uint64_t(64) << 20;

// Copies kept payloads, one run of them after another: those lying one after another in the
// archive they come from (as a packed archive's do) go in one copy, so an update of an archive of
// many small files costs about a copy of the file.
Status copyKept(WriteRun& run, std::span<const PlannedFile* const> files, const std::atomic<int>* stop) {
  for (size_t first = 0; first < files.size();) {
    const KeptPayload& start = *files[first]->kept;
    uint64_t length = start.size;
    size_t end = first + 1;
    for (; end < files.size(); ++end) {
      const KeptPayload& next = *files[end]->kept;
      if (next.archive != start.archive || next.offset != start.offset + length) break;
      length += next.size;
    }
    if (Status room = checkRoom(run, *files[first], length); !room) return room;
    for (uint64_t done = 0; done < length;) {
      if (stopRequested(stop)) return packStopped();
      uint64_t piece = std::min<uint64_t>(length - done, kKeptCopyChunk);
      platform::FileRange range{start.archive, start.offset + done, piece};
      if (platform::SystemError error =
              platform::copyRangeAt(run.output.file.get(), run.position + done, range, run.copyOptions);
          error != 0)
        return Error{ErrorKind::cannotWrite, error, "'" + run.output.finalPath + "'"};
      done += piece;
    }
    for (; first < end; ++first) place(run, files[first]->kept->size);
  }
  return {};
}

Status appendStored(WriteRun& run, const PositionalFile& source, const PlannedFile& file,
                    const std::atomic<int>* stop) {
  if (Status room = checkRoom(run, file, source.size); !room) return room;
  run.buffer.resize(size_t(std::min<uint64_t>(source.size, kCopyChunk)));
  for (uint64_t done = 0; done < source.size;) {
    if (stopRequested(stop)) return packStopped();
    std::span<uint8_t> chunk(run.buffer.data(), size_t(std::min<uint64_t>(source.size - done, kCopyChunk)));
    if (Status read = readSource(file, source, done, chunk); !read) return read;
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

// Stored payloads are copied a chunk at a time, so no file is ever held whole in memory.
Status appendStoredFiles(WriteRun& run, const std::vector<const PlannedFile*>& files, const std::atomic<int>* stop) {
  for (size_t i = 0; i < files.size(); ++i) {
    const PlannedFile* file = files[i];
    if (stopRequested(stop)) return packStopped();
    if (file->kept) {
      size_t end = i + 1;
      while (end < files.size() && files[end]->kept) ++end;
      if (Status copied = copyKept(run, std::span(files).subspan(i, end - i), stop); !copied) return copied;
      i = end - 1;
      continue;
    }
    Result<PositionalFile> source = openSource(*file);
    if (!source) return std::move(source.error());
    Status appended = appendStored(run, *source, *file, stop);
    run.bytesIn += source->size;
    if (!appended) return appended;
    place(run, source->size);
  }
  return {};
}

// What a worker made of one file of a batch, or of one piece of a large file, when payloads are
// compressed.
struct CompressedFile {
  Status status;
  uint64_t sizeRead = 0;  // the file's size when it was opened; for a piece, the piece's
  size_t length = 0;      // of its payload, or of the piece's part of it
};

// A job of the compressed run: consecutive files compressed whole, or one piece of a large file.
struct CompressionJob {
  size_t firstFile = 0;
  size_t fileCount = 0;  // 1 for a piece
  uint32_t piece = 0;
  uint32_t pieces = 0;   // 0 for files compressed whole
};

// A job's payloads one after another (for a piece, its part of the payload: the first holds the
// payload's head, the last leaves room for its tail), and per file what became of it; a batch
// ends at the first file that failed, the last one listed.
struct CompressedBatch {
  std::vector<uint8_t> payloads;
  std::vector<CompressedFile> files;
  uint32_t checksum = 0;  // for a piece: of the bytes it holds
};

struct CompressionContext {
  Compressor compressor;
  PieceCompressor pieceCompressor;  // made when the first piece comes
  int level = kDefaultCompressionLevel;
  std::vector<uint8_t> buffer;  // the file's or the piece's bytes; kept for the worker's next job
};

CompressionContext makeCompressionContext(int level) {
  CompressionContext context{makeCompressor(level), {}, level, {}};
  if (!context.compressor) throw std::bad_alloc();
  return context;
}

CompressedFile compressFile(CompressionContext& context, const PlannedFile& file, std::vector<uint8_t>& payloads) {
  CompressedFile result;
  Result<PositionalFile> source = openSource(file);
  if (!source) {
    result.status = std::move(source.error());
    return result;
  }
  result.sizeRead = source->size;
  if (source->size > kMaxArchiveSize) {
    result.status = oversizedFile(file, source->size);
    return result;
  }
  if (file.contents) {
    result.length = appendPayload(context.compressor.get(), file.contents->data(), file.contents->size(), payloads);
    return result;
  }
  context.buffer.resize(size_t(source->size));
  if (Status read = readAt(*source, 0, context.buffer); !read) {
    result.status = about(file, std::move(read.error()));
    return result;
  }
  result.length = appendPayload(context.compressor.get(), context.buffer.data(), context.buffer.size(), payloads);
  return result;
}

// A large file's piece, read with the dictionary before it. The file is opened for each piece
// and read at the size the scan saw: one that has shrunk since fails as ended early.
CompressedBatch compressPiece(CompressionContext& context, const PlannedFile& file, const CompressionJob& job,
                              std::vector<uint8_t>&& payloads) {
  CompressedBatch batch{std::move(payloads), std::vector<CompressedFile>(1), 0};
  CompressedFile& result = batch.files.front();
  if (!context.pieceCompressor) {
    context.pieceCompressor = makePieceCompressor(context.level);
    if (!context.pieceCompressor) throw std::bad_alloc();
  }
  Result<PositionalFile> source = openSource(file);
  if (!source) {
    result.status = std::move(source.error());
    return batch;
  }
  uint64_t offset = uint64_t(job.piece) * kPieceBytes;
  size_t length = size_t(std::min<uint64_t>(kPieceBytes, file.size - offset));
  size_t dictionary = size_t(std::min<uint64_t>(kDictionaryBytes, offset));
  context.buffer.reserve(kDictionaryBytes + kPieceBytes);  // exactly: growing would double it
  context.buffer.resize(dictionary + length);
  if (Status read = readSource(file, *source, offset - dictionary, context.buffer); !read) {
    result.status = std::move(read);
    return batch;
  }
  std::span<const uint8_t> bytes(context.buffer);
  result.sizeRead = length;
  if (job.piece == 0) appendPayloadHead(context.compressor.get(), uint32_t(file.size), batch.payloads);
  appendPiece(context.pieceCompressor.get(), bytes.first(dictionary), bytes.subspan(dictionary),
              job.piece + 1 == job.pieces, batch.payloads);
  if (job.piece + 1 == job.pieces) batch.payloads.resize(batch.payloads.size() + kPayloadTailBytes);
  result.length = batch.payloads.size();
  batch.checksum = checksumOf(bytes.subspan(dictionary));
  return batch;
}

// Payload buffers of written jobs, kept for later ones: fresh memory costs a page fault per
// page, more than compressing a small file does. No more are kept than jobs were ever in
// flight at once, and none larger than kKeptBufferBytes, which a piece's payload fits.
constexpr size_t kKeptBufferBytes = kPieceBytes + kPieceBytes / 8;

struct SpareBuffers {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> buffers;
};

std::vector<uint8_t> takeBuffer(SpareBuffers& spares) {
  std::lock_guard lock(spares.mutex);
  if (spares.buffers.empty()) return {};
  std::vector<uint8_t> buffer = std::move(spares.buffers.back());
  spares.buffers.pop_back();
  return buffer;
}

void keepBuffer(SpareBuffers& spares, std::vector<uint8_t>&& buffer) {
  if (buffer.capacity() > kKeptBufferBytes) return;
  buffer.clear();
  std::lock_guard lock(spares.mutex);
  spares.buffers.push_back(std::move(buffer));
}

// A job of kept payloads: consecutive ones, copied when their turn to be written comes.
bool isKept(std::span<const PlannedFile* const> files, const CompressionJob& job) {
  return job.pieces == 0 && files[job.firstFile]->kept.has_value();
}

CompressedBatch compressJob(CompressionContext& context, std::span<const PlannedFile* const> files,
                            const CompressionJob& job, SpareBuffers& spares) {
  if (job.pieces > 0) return compressPiece(context, *files[job.firstFile], job, takeBuffer(spares));
  if (isKept(files, job)) return {};
  CompressedBatch batch{takeBuffer(spares), {}, 0};
  batch.files.reserve(job.fileCount);
  for (const PlannedFile* file : files.subspan(job.firstFile, job.fileCount)) {
    batch.files.push_back(compressFile(context, *file, batch.payloads));
    if (!batch.files.back().status) break;
  }
  return batch;
}

// Files of at most kWholeFileBytes (as scanned) go in batches of consecutive files; each larger
// file becomes its pieces; consecutive kept payloads are a job of their own. Only sizes decide, so the jobs
// are the same for every thread count.
std::vector<CompressionJob> planCompressionJobs(const std::vector<const PlannedFile*>& files) {
  std::vector<CompressionJob> jobs;
  auto batched = [&](size_t k) { return files[k]->size <= kWholeFileBytes && !files[k]->kept; };
  for (size_t i = 0; i < files.size();) {
    if (files[i]->kept) {
      size_t end = i + 1;
      while (end < files.size() && files[end]->kept) ++end;
      jobs.push_back({i, end - i, 0, 0});
      i = end;
      continue;
    }
    if (files[i]->size > kWholeFileBytes) {
      uint32_t pieces = uint32_t((files[i]->size + kPieceBytes - 1) / kPieceBytes);
      for (uint32_t p = 0; p < pieces; ++p) jobs.push_back({i, 1, p, pieces});
      ++i;
      continue;
    }
    size_t end = i;
    while (end < files.size() && batched(end)) ++end;
    std::vector<size_t> batches = batchBoundaries(end - i, kPackBatch, [&](size_t k) { return files[i + k]->size; });
    for (size_t b = 0; b + 1 < batches.size(); ++b) jobs.push_back({i + batches[b], batches[b + 1] - batches[b], 0, 0});
    i = end;
  }
  return jobs;
}

// A large file's payload while its pieces are written, one after another.
struct PiecedPayload {
  uint64_t length = 0;    // written so far
  uint32_t checksum = 0;  // of the unpacked bytes so far
};

// Files are read and compressed on options.jobs threads, in jobs of consecutive files or pieces
// of one, and written in table order as each job becomes next, so the archive is the same
// whatever the count and at most the engine's window of jobs waits in memory. The first failure
// in table order is the one reported, after the payloads before it were written, as a
// one-thread run would.
Status appendCompressedFiles(WriteRun& run, const std::vector<const PlannedFile*>& files, const PackOptions& options) {
  std::vector<CompressionJob> jobs = planCompressionJobs(files);
  SpareBuffers spares;
  PiecedPayload pieced;
  Status status;
  runOrderedJobs(
      jobs.size(), {.jobs = options.jobs}, [&] { return makeCompressionContext(options.level); },
      [&](CompressionContext& context, size_t j) { return compressJob(context, files, jobs[j], spares); },
      [&](size_t j, CompressedBatch&& batch) {
        const CompressionJob& job = jobs[j];
        if (isKept(files, job)) {
          status = copyKept(run, std::span(files).subspan(job.firstFile, job.fileCount), options.stop);
          if (status && stopRequested(options.stop)) status = packStopped();
          return status.ok();
        }
        uint64_t start = run.position + pieced.length;
        uint64_t end = start;
        for (size_t i = 0; i < batch.files.size() && status; ++i) {
          CompressedFile& compressed = batch.files[i];
          const PlannedFile& file = *files[job.firstFile + i];
          run.bytesIn += compressed.sizeRead;
          status = std::move(compressed.status);
          if (status) status = checkRoom(run, file, pieced.length + compressed.length);
          if (!status) break;
          end += compressed.length;
          if (job.pieces == 0) {
            place(run, compressed.length);
            continue;
          }
          pieced.checksum = job.piece == 0 ? batch.checksum
                                           : combineChecksums(pieced.checksum, batch.checksum, compressed.sizeRead);
          pieced.length += compressed.length;
          if (job.piece + 1 == job.pieces) {
            storePayloadTail(pieced.checksum, batch.payloads.data() + batch.payloads.size() - kPayloadTailBytes);
            place(run, std::exchange(pieced, {}).length);
          }
        }
        if (end > start) {
          Status written = writeOutputAt(run.output, start, batch.payloads.data(), size_t(end - start));
          if (!written) status = std::move(written);
        }
        keepBuffer(spares, std::move(batch.payloads));
        if (status && stopRequested(options.stop)) status = packStopped();
        return status.ok();
      });
  return status;
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
  run.onStep = &options.onStep;
  report.status = createTemporaryOutput(archivePath, run.output);
  if (!report.status) return report;
  stepDone(run, "temporary");
  run.position = tablesLength(plan);
  run.placements.reserve(plan.fileCount);

  std::vector<const PlannedFile*> files;
  files.reserve(plan.fileCount);
  for (const PlannedFolder& folder : plan.folders)
    for (const PlannedFile& file : folder.files) files.push_back(&file);
  report.status = options.compress ? appendCompressedFiles(run, files, options) : appendStoredFiles(run, files, options.stop);
  if (!report.status) return report;

  std::vector<uint8_t> tables = encodeTables(plan, options.compress, run.placements);
  report.status = writeOutputAt(run.output, 0, tables.data(), tables.size());
  if (report.status) stepDone(run, "tables");
  if (report.status && stopRequested(options.stop)) report.status = packStopped();
  if (report.status) {
    stepDone(run, "commit");
    report.status = commitOutput(run.output);
    if (report.status) stepDone(run, "committed");
  }
  report.notes = std::move(run.notes);
  report.bytesIn = run.bytesIn;
  report.bytesOut = run.position;
  return report;
}

}  // namespace oxtrel
