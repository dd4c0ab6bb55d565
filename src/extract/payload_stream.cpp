#include "extract/payload_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel {

namespace {

// zlib counts in 32-bit lengths.
constexpr size_t kLargestInflateCall = size_t(1) << 30;

Error unpackFailed() { return Error{ErrorKind::unpackFailed, 0, {}}; }

Error fail(PayloadStream& stream, Error error) {
  stream.failure = error;
  return error;
}

// Reads the next block of the stream into input; false when the payload holds no more.
Result<bool> refill(PayloadStream& stream) {
  const uint64_t streamBytes = stream.storedSize - kUnpackedSizeBytes;
  const size_t n = size_t(std::min<uint64_t>(kStreamInputBytes, streamBytes - stream.inputRead));
  if (n == 0) return false;
  if (Status read = readAt(*stream.archive, stream.offset + kUnpackedSizeBytes + stream.inputRead,
                           {stream.input.get(), n});
      !read)
    return std::move(read.error());
  stream.inputRead += n;
  stream.inflater->next_in = stream.input.get();
  stream.inflater->avail_in = uInt(n);
  return true;
}

enum class Step { full, streamEnd };

// Inflates into out until it is full or the stream ends.
Result<Step> inflateInto(PayloadStream& stream, std::span<uint8_t> out) {
  z_stream& z = *stream.inflater;
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  while (z.avail_out > 0) {
    if (z.avail_in == 0) {
      Result<bool> more = refill(stream);
      if (!more) return std::move(more.error());
      if (!*more) return unpackFailed();  // the payload ends inside the stream
    }
    int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) return Step::streamEnd;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    // Z_NEED_DICT (a preset dictionary), Z_DATA_ERROR, or no progress with room on both sides.
    if (result != Z_OK) return unpackFailed();
  }
  return Step::full;
}

}  // namespace

uint64_t initialStreamingThreshold() {
  const char* text = std::getenv("OXTREL_STREAMING_THRESHOLD");
  char* end = nullptr;
  unsigned long long bytes = text ? std::strtoull(text, &end, 10) : 0;
  return text && *text >= '0' && *text <= '9' && *end == '\0' ? uint64_t(bytes) : uint64_t(16) << 20;
}

void InflaterRelease::operator()(z_stream_s* stream) const {
  inflateEnd(stream);
  delete stream;
}

Result<PayloadStream> openPayloadStream(const PositionalFile& archive, uint64_t offset, uint32_t storedSize,
                                        bool compressed, SizeCheck check) {
  if (!fileHolds(archive, offset, storedSize)) return Error{ErrorKind::truncated, 0, {}};
  PayloadStream stream;
  stream.archive = &archive;
  stream.offset = offset;
  stream.storedSize = storedSize;
  stream.compressed = compressed;
  stream.check = check;
  if (compressed) {
    if (storedSize < kUnpackedSizeBytes) return unpackFailed();
    uint8_t prefix[kUnpackedSizeBytes];
    if (Status read = readAt(archive, offset, prefix); !read) return std::move(read.error());
    stream.announced = loadLe32(prefix);
    if (stream.announced != 0) {
      stream.inflater.reset(new z_stream{});
      if (inflateInit(stream.inflater.get()) != Z_OK) throw std::bad_alloc();
      stream.input.reset(new uint8_t[kStreamInputBytes]);
    }
  }
  stream.ended = decodedSize(stream) == 0;
  return stream;
}

Result<size_t> readPayloadStream(PayloadStream& stream, std::span<uint8_t> into) {
  if (stream.failure) return *stream.failure;
  if (stream.ended || into.empty()) return size_t(0);
  if (!stream.compressed) {
    const size_t n = size_t(std::min<uint64_t>(into.size(), stream.storedSize - stream.produced));
    if (Status read = readAt(*stream.archive, stream.offset + stream.produced, into.first(n)); !read)
      return fail(stream, std::move(read.error()));
    stream.produced += n;
    stream.ended = stream.produced == stream.storedSize;
    return n;
  }

  const size_t want = size_t(std::min<uint64_t>({into.size(), stream.announced - stream.produced, kLargestInflateCall}));
  Result<Step> step = inflateInto(stream, into.first(want));
  if (!step) return fail(stream, std::move(step.error()));
  const size_t n = want - stream.inflater->avail_out;
  stream.produced += n;
  if (*step == Step::streamEnd) {
    if (stream.check == SizeCheck::exact && stream.produced != stream.announced) return fail(stream, unpackFailed());
    stream.ended = true;
    return n;
  }
  if (stream.produced == stream.announced) {
    // The announced size is reached: the stream must end right here, its checksum verified.
    uint8_t probe = 0;
    Result<Step> end = inflateInto(stream, {&probe, 1});
    if (!end) return fail(stream, std::move(end.error()));
    if (*end != Step::streamEnd || stream.inflater->avail_out == 0) return fail(stream, unpackFailed());
    stream.ended = true;
  }
  return n;
}

void rewindPayloadStream(PayloadStream& stream) {
  stream.produced = 0;
  stream.failure.reset();
  stream.ended = decodedSize(stream) == 0;
  if (stream.inflater) {
    inflateReset(stream.inflater.get());
    stream.inflater->avail_in = 0;
    stream.inputRead = 0;
  }
}

}  // namespace oxtrel
