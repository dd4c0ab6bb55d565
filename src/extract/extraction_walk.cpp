#include "extract/extraction_walk.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "catalogue/entry_path.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"
#include "extract/payload_decoder.h"
#include "extract/payload_stream.h"
#include "extract/payload_window.h"
#include "platform/platform.h"

namespace oxtrel {

// Inflated bytes of a large payload handed on at a time: enough that each write costs little,
// little enough that a job's share of memory stays small and in the processor's cache.
constexpr size_t kStreamPiece = size_t(1) << 20;

struct RecordWalker {
  const PositionalFile& archive;
  OutputTree& tree;
  const WalkSettings& settings;
  const EventSink& sink;
  bool compressed;
  PayloadDecoder decoder = makePayloadDecoder();
  PayloadWindow window{};
  GrowableBuffer blocks{};  // large stored payloads pass through here when not copied in the kernel
  GrowableBuffer pieces{};  // large compressed payloads are inflated here, piece by piece
  std::string path{};  // the entry's console path, reused for every entry
  ExtractionSummary summary{};

  void report(EventKind kind, const FileRecord& record, int error = 0) {
    ExtractionEvent event;
    event.kind = kind;
    event.offset = record.offset;
    event.size = record.size;
    event.path = path;
    event.error = error;
    emit(sink, event);
  }

  void problem(EventKind kind, const FileRecord& record, int error = 0) {
    report(kind, record, error);
    ++summary.problems;
  }

  void extract(std::string_view folder, const FileRecord& record, std::string_view name) {
    composeEntryPath(path, folder, name);
    report(EventKind::entry, record);
    if (settings.mode == RunMode::toStdout) return streams(record) ? sendInPieces(record) : send(record);

    OutputPath output = splitOutputPath(belowDataRoot(path));
    if (output.unsafe) return problem(EventKind::unsafePath, record);
    // The system could not name it whole; walking it piece by piece would only cost time.
    if (path.size() >= platform::kLongestPath) return problem(EventKind::cannotWrite, record, ENAMETOOLONG);
    if (!checkOutputPath(tree, output)) return problem(EventKind::unsafePath, record);
    if (settings.keepExisting && settings.mode == RunMode::extract) {
      // Only a file or a link is an existing file to keep. A directory there fails the write as
      // it would without keeping; a FIFO or a device is neither kept nor replaced.
      switch (existingOutput(tree, output)) {
        case ExistingOutput::fileOrLink:
          report(EventKind::keptExisting, record);
          ++summary.kept;
          return;
        case ExistingOutput::special: return problem(EventKind::cannotWrite, record, EEXIST);
        case ExistingOutput::none:
        case ExistingOutput::directory: break;
      }
    }

    if (!compressed && record.size >= kReadAhead) return copyStored(output, record);
    if (streams(record)) return inflateInPieces(output, record);

    std::optional<std::span<const uint8_t>> bytes = decode(record);
    if (!bytes) return;
    if (settings.mode == RunMode::test) {
      ++summary.written;
      return;
    }
    finish(writeOutputFile(tree, output, *bytes), record);
  }

  // The entry's file contents, or nullopt after reporting why there are none. Nothing is sized
  // from record.size before the archive is known to hold that many bytes.
  std::optional<std::span<const uint8_t>> decode(const FileRecord& record) {
    Result<std::span<const uint8_t>> bytes = readPayload(window, archive, record.offset, record.size);
    if (!bytes) {
      problem(EventKind::truncatedPayload, record);
      return std::nullopt;
    }
    Result<DecodedPayload> decoded = decodePayload(decoder, compressed, *bytes);
    if (!decoded) {
      problem(EventKind::unpackFailed, record);
      return std::nullopt;
    }
    if (decoded->possiblyPacked) problem(EventKind::possiblyPacked, record);
    return decoded->bytes;
  }

  // True for a compressed payload that is, or inflates to, more than the streaming threshold: it
  // is inflated piece by piece rather than whole. The announced size is read through the window,
  // where decode finds it again; a payload that cannot be read is left to decode to report.
  bool streams(const FileRecord& record) {
    if (!compressed) return false;
    const uint64_t threshold = streamingThreshold.load(std::memory_order_relaxed);
    if (record.size > threshold) return true;
    if (record.size < kUnpackedSizeBytes) return false;
    Result<std::span<const uint8_t>> bytes = readPayload(window, archive, record.offset, record.size);
    return bytes && loadLe32(bytes->data()) > threshold;
  }

  // The event for a streamed payload's failure, as the whole-payload path names it.
  void streamProblem(const Error& error, const FileRecord& record) {
    problem(error.kind == ErrorKind::unpackFailed ? EventKind::unpackFailed : EventKind::truncatedPayload, record);
  }

  std::optional<PayloadStream> openStream(const FileRecord& record) {
    Result<PayloadStream> stream = openPayloadStream(archive, record.offset, record.size, true, SizeCheck::atMost);
    if (!stream) {
      streamProblem(stream.error(), record);
      return std::nullopt;
    }
    return std::move(stream.value());
  }

  std::span<uint8_t> piece() { return {reserveBytes(pieces, kStreamPiece), kStreamPiece}; }

  // Inflates the rest of the stream into nothing; its failure, if it has one.
  std::optional<Error> drain(PayloadStream& stream) {
    std::span<uint8_t> into = piece();
    for (;;) {
      Result<size_t> n = readPayloadStream(stream, into);
      if (!n) return n.error();
      if (*n == 0) return std::nullopt;
    }
  }

  struct PieceWriter {
    RecordWalker& walker;
    PayloadStream& stream;
    std::optional<Error> failure;  // the payload's, not the file's

    static platform::SystemError write(void* context, platform::NativeHandle file) {
      PieceWriter& self = *static_cast<PieceWriter*>(context);
      if (self.stream.produced != 0) rewindPayloadStream(self.stream);  // a second way of publishing
      std::span<uint8_t> into = self.walker.piece();
      for (;;) {
        Result<size_t> n = readPayloadStream(self.stream, into);
        if (!n) {
          self.failure = n.error();
          return EIO;
        }
        if (*n == 0) return 0;
        if (platform::SystemError error = platform::writeFully(file, into.first(*n), std::nullopt); error != 0)
          return error;
      }
    }
  };

  // A large compressed payload is inflated piece by piece into its file (or, testing, into
  // nothing). The whole-payload path decodes before it writes, so a payload that cannot be
  // decoded is reported as such even when its file could not be written either.
  void inflateInPieces(const OutputPath& output, const FileRecord& record) {
    std::optional<PayloadStream> stream = openStream(record);
    if (!stream) return;
    if (settings.mode == RunMode::test) {
      if (std::optional<Error> failure = drain(*stream)) return streamProblem(*failure, record);
      ++summary.written;
      return;
    }
    PieceWriter writer{*this, *stream, std::nullopt};
    Status written = streamOutputFile(tree, output, {PieceWriter::write, &writer});
    if (!writer.failure && !written && !stream->ended) writer.failure = drain(*stream);
    if (writer.failure) return streamProblem(*writer.failure, record);
    finish(written, record);
  }

  // A large compressed payload goes to the stream piece by piece: the bytes before a fault in it
  // have already gone when the fault is found.
  void sendInPieces(const FileRecord& record) {
    std::optional<PayloadStream> stream = openStream(record);
    if (!stream) return;
    std::span<uint8_t> into = piece();
    for (;;) {
      Result<size_t> n = readPayloadStream(*stream, into);
      if (!n) return streamProblem(n.error(), record);
      if (*n == 0) break;
      if (!sendBytes(into.first(*n))) return;
    }
    if (flushSent()) ++summary.written;
  }

  // A stored payload too large for the read-ahead window goes from the archive into its file
  // inside the kernel; only its first bytes pass through here, for the possibly-packed check.
  void copyStored(const OutputPath& output, const FileRecord& record) {
    if (!checkStoredHead(record)) return;
    if (settings.mode == RunMode::test) {
      if (!readThrough(record, nullptr)) return;
      ++summary.written;
      return;
    }
    finish(copyOutputFile(tree, output, {archive.file.get(), record.offset, record.size}), record);
  }

  bool checkStoredHead(const FileRecord& record) {
    uint8_t head[kPackedCheckBytes];
    if (!fileHolds(archive, record.offset, record.size) || !readAt(archive, record.offset, head)) {
      problem(EventKind::truncatedPayload, record);
      return false;
    }
    if (looksZlibPacked(head)) problem(EventKind::possiblyPacked, record);
    return true;
  }

  // Reads a large stored payload block by block, handing each block to out when there is one.
  bool readThrough(const FileRecord& record, FILE* out) {
    uint8_t* block = reserveBytes(blocks, kReadAhead);
    uint64_t offset = record.offset;
    uint64_t left = record.size;
    while (left > 0) {
      size_t n = size_t(std::min<uint64_t>(left, kReadAhead));
      if (!readAt(archive, offset, {block, n})) {
        problem(EventKind::truncatedPayload, record);
        return false;
      }
      if (out && !sendBytes({block, n})) return false;
      offset += n;
      left -= n;
    }
    return true;
  }

  void send(const FileRecord& record) {
    if (!compressed && record.size >= kReadAhead) {
      if (checkStoredHead(record) && readThrough(record, settings.contents) && flushSent()) ++summary.written;
      return;
    }
    std::optional<std::span<const uint8_t>> bytes = decode(record);
    if (bytes && sendBytes(*bytes) && flushSent()) ++summary.written;
  }

  bool sendBytes(std::span<const uint8_t> bytes) {
    if (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), settings.contents) == bytes.size()) return true;
    summary.streamError = errno != 0 ? errno : EIO;
    return false;
  }

  // An entry counts as sent only once its bytes have left the stream's buffer for the
  // descriptor: a full device refuses them only then.
  bool flushSent() {
    errno = 0;
    if (std::fflush(settings.contents) == 0) return true;
    summary.streamError = errno != 0 ? errno : EIO;
    return false;
  }

  void finish(const Status& written, const FileRecord& record) {
    if (written) {
      ++summary.written;
      return;
    }
    if (written.error().kind == ErrorKind::unsafePath) return problem(EventKind::unsafePath, record);
    problem(EventKind::cannotWrite, record, written.error().systemError);
  }
};

void RecordWalkerDeleter::operator()(RecordWalker* walker) const { delete walker; }

RecordWalkerPtr makeRecordWalker(const PositionalFile& archive, OutputTree& tree, bool compressed,
                                 const WalkSettings& settings, const EventSink& sink) {
  return RecordWalkerPtr(new RecordWalker{archive, tree, settings, sink, compressed});
}

void walkRecord(RecordWalker& walker, const Catalogue& catalogue, size_t folder, size_t record,
                const NameIndex& index) {
  const FileRecord& file = catalogue.files[record];
  std::optional<std::string_view> name = lookup(index, file.hash);
  if (!name) {
    ExtractionEvent event;
    event.kind = EventKind::unmatched;
    event.folder = folderName(catalogue, folder);
    event.position = uint32_t(record - catalogue.fileStarts[folder]);
    emit(walker.sink, event);
    ++walker.summary.problems;
    return;
  }
  walker.extract(folderName(catalogue, folder), file, *name);
}

const ExtractionSummary& walkSummary(const RecordWalker& walker) { return walker.summary; }

ExtractionSummary extractAll(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                             OutputTree& tree, const EntrySelection& selection, const WalkSettings& settings,
                             const EventSink& sink) {
  RecordWalkerPtr walker = makeRecordWalker(archive, tree, isCompressed(catalogue.header), settings, sink);
  for (size_t folder = 0; folder < folderCount(catalogue); ++folder) {
    for (size_t record = catalogue.fileStarts[folder]; record < catalogue.fileStarts[folder + 1]; ++record) {
      if (!isSelected(selection, record)) continue;
      if (walker->summary.streamError != 0) return walker->summary;
      if ((walker->summary.stoppedBy = stopValue(settings)) != 0) return walker->summary;
      walkRecord(*walker, catalogue, folder, record, index);
    }
  }
  return walker->summary;
}

}  // namespace oxtrel
