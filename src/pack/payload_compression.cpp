#include "pack/payload_compression.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <new>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel {

void CompressorRelease::operator()(libdeflate_compressor* compressor) const {
  libdeflate_free_compressor(compressor);
}

Compressor makeCompressor(int level) { return Compressor(libdeflate_alloc_compressor(level)); }

size_t appendPayload(libdeflate_compressor* compressor, const uint8_t* data, size_t size,
                     std::vector<uint8_t>& out) {
  size_t start = out.size();
  out.resize(start + kUnpackedSizeBytes + libdeflate_zlib_compress_bound(compressor, size));
  storeLe32(out.data() + start, uint32_t(size));
  uint8_t* stream = out.data() + start + kUnpackedSizeBytes;
  // The bound always suffices, so the result is never the 0 that means "did not fit".
  size_t streamLength = libdeflate_zlib_compress(compressor, data, size, stream, size_t(out.data() + out.size() - stream));
  out.resize(start + kUnpackedSizeBytes + streamLength);
  return kUnpackedSizeBytes + streamLength;
}

void PieceCompressorRelease::operator()(z_stream_s* stream) const {
  deflateEnd(stream);
  delete stream;
}

PieceCompressor makePieceCompressor(int level) {
  PieceCompressor stream(new z_stream{});
  // Raw deflate: the head and the checksum around the pieces are written apart from them.
  if (deflateInit2(stream.get(), std::min(level, Z_BEST_COMPRESSION), Z_DEFLATED, -MAX_WBITS, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    stream.release();  // never initialised: nothing to end
    return {};
  }
  return stream;
}

void appendPayloadHead(libdeflate_compressor* compressor, uint32_t unpackedSize, std::vector<uint8_t>& out) {
  // The header of an empty stream is the header of every stream at this level.
  uint8_t empty[64];
  libdeflate_zlib_compress(compressor, nullptr, 0, empty, sizeof empty);
  size_t start = out.size();
  out.resize(start + kPayloadHeadBytes);
  storeLe32(out.data() + start, unpackedSize);
  std::copy_n(empty, kPayloadHeadBytes - kUnpackedSizeBytes, out.data() + start + kUnpackedSizeBytes);
}

size_t appendPiece(z_stream_s* stream, std::span<const uint8_t> dictionary, std::span<const uint8_t> piece,
                   bool last, std::vector<uint8_t>& out) {
  deflateReset(stream);
  if (!dictionary.empty()) deflateSetDictionary(stream, dictionary.data(), uInt(dictionary.size()));
  size_t start = out.size();
  // Room for the whole piece at once, and the few bytes of the flush marker.
  out.resize(start + deflateBound(stream, uLong(piece.size())) + 16);
  stream->next_in = const_cast<Bytef*>(piece.data());
  stream->avail_in = uInt(piece.size());
  size_t done = start;
  while (true) {
    stream->next_out = out.data() + done;
    stream->avail_out = uInt(out.size() - done);
    int result = deflate(stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    done = out.size() - stream->avail_out;
    if (result == Z_STREAM_ERROR) throw std::bad_alloc();  // only a broken state gives it
    bool finished = last ? result == Z_STREAM_END : stream->avail_in == 0 && stream->avail_out != 0;
    if (finished) break;
    out.resize(out.size() + kDictionaryBytes);
  }
  out.resize(done);
  return done - start;
}

uint32_t checksumOf(std::span<const uint8_t> bytes) {
  uLong sum = adler32(0, nullptr, 0);
  // adler32 takes its length as a uInt; a piece is far shorter, but a caller's span need not be.
  for (size_t at = 0; at < bytes.size();) {
    size_t length = std::min<size_t>(bytes.size() - at, size_t(1) << 30);
    sum = adler32(sum, bytes.data() + at, uInt(length));
    at += length;
  }
  return uint32_t(sum);
}

uint32_t combineChecksums(uint32_t first, uint32_t second, uint64_t secondLength) {
  return uint32_t(adler32_combine64(first, second, z_off64_t(secondLength)));
}

void storePayloadTail(uint32_t checksum, uint8_t* out) {
  out[0] = uint8_t(checksum >> 24);
  out[1] = uint8_t(checksum >> 16);
  out[2] = uint8_t(checksum >> 8);
  out[3] = uint8_t(checksum);
}

}  // namespace oxtrel
