#pragma once

// Turns a file's bytes into a compressed payload: its 4-byte unpacked size, then a zlib stream.
//
// A file of at most kWholeFileBytes is compressed in one call. A larger one is compressed in
// pieces of kPieceBytes so that it is never held whole: each piece is deflated on its own, with
// the kDictionaryBytes before it as its dictionary (so the ratio hardly suffers), and ends on a
// byte boundary, so the pieces written one after another between the payload's head and the
// stream's checksum form one zlib stream. A piece's bytes depend only on the file, its place in
// it and the level, never on which thread made it or when.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <oxtrel/compression.h>

struct libdeflate_compressor;
struct z_stream_s;

namespace oxtrel {

inline constexpr uint64_t kWholeFileBytes = uint64_t(1) << 20;
inline constexpr size_t kPieceBytes = size_t(1) << 20;
inline constexpr size_t kDictionaryBytes = 32 * 1024;  // the deflate window
inline constexpr size_t kPayloadHeadBytes = 6;         // the unpacked size, then the zlib header
inline constexpr size_t kPayloadTailBytes = 4;         // the stream's checksum

struct CompressorRelease {
  void operator()(libdeflate_compressor* compressor) const;
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorRelease>;

// Requires: level within kMinCompressionLevel..kMaxCompressionLevel. Null when memory ran out.
Compressor makeCompressor(int level);

// Appends the payload of the size bytes at data to out and returns its length. Requires: size
// fits in 32 bits. One compressor serves a whole run.
size_t appendPayload(libdeflate_compressor* compressor, const uint8_t* data, size_t size,
                     std::vector<uint8_t>& out);

struct PieceCompressorRelease {
  void operator()(z_stream_s* stream) const;
};
using PieceCompressor = std::unique_ptr<z_stream_s, PieceCompressorRelease>;

// Requires: level as for makeCompressor; levels above 9 deflate pieces at 9. Null when memory
// ran out. One serves a whole run.
PieceCompressor makePieceCompressor(int level);

// Appends the head of a payload made in pieces: the unpacked size, then the zlib header that
// compressor (the whole-file one of the same level) writes.
void appendPayloadHead(libdeflate_compressor* compressor, uint32_t unpackedSize, std::vector<uint8_t>& out);

// Appends piece deflated and returns the bytes appended. dictionary: the file's bytes just
// before the piece, at most kDictionaryBytes; last: the file's final piece, which ends the
// deflate stream (the others end on a byte boundary).
size_t appendPiece(z_stream_s* stream, std::span<const uint8_t> dictionary, std::span<const uint8_t> piece,
                   bool last, std::vector<uint8_t>& out);

// The stream's checksum (Adler-32) of bytes, and of two runs one after another from theirs.
uint32_t checksumOf(std::span<const uint8_t> bytes);
uint32_t combineChecksums(uint32_t first, uint32_t second, uint64_t secondLength);

// The stream's tail for the checksum of every unpacked byte, at out.
void storePayloadTail(uint32_t checksum, uint8_t* out);

}  // namespace oxtrel
