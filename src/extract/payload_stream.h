#pragma once

// Decodes one entry's payload piece by piece, reading the archive as it goes: memory is one input
// block and the inflater's state, whatever the entry's size. Used where a payload is too large to
// hold whole (see streamingThreshold) and by the public EntryReader.
//
// A stored payload is read straight into the caller's buffer. A compressed one is a 4-byte
// little-endian announced size and a zlib stream, inflated with zlib's inflate: a zlib header is
// required, a preset dictionary is refused, the Adler-32 trailer is verified when the stream's end
// is reached, and bytes after the end are ignored. An announced size of 0 gives no bytes without
// inflating anything. A stream that would pass the announced size is unpackFailed once it does;
// one that ends short of it is unpackFailed (SizeCheck::exact) or ends there (SizeCheck::atMost,
// what the whole-payload decoder does).
//
// Thread safety: one stream per thread; any number of streams may read one archive at once.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "common/result.h"
#include "io/positional_file.h"

struct z_stream_s;

namespace oxtrel {

// Payloads and decoded files above this many bytes are decoded in a stream by extraction, tests
// and standard output; smaller ones whole, which is faster. Tests move it to reach either path
// with any entry: in process by storing to it, in a child through OXTREL_STREAMING_THRESHOLD in
// the environment (a byte count), read once per process.
uint64_t initialStreamingThreshold();
inline std::atomic<uint64_t> streamingThreshold{initialStreamingThreshold()};

// Compressed payload bytes read from the archive at a time.
inline constexpr size_t kStreamInputBytes = 128 * 1024;

enum class SizeCheck {
  exact,   // the stream must give exactly the announced size
  atMost,  // the stream may end before the announced size
};

struct InflaterRelease {
  void operator()(z_stream_s* stream) const;
};

struct PayloadStream {
  const PositionalFile* archive = nullptr;
  uint64_t offset = 0;      // of the payload in the archive
  uint32_t storedSize = 0;  // the payload's bytes in the archive
  bool compressed = false;
  SizeCheck check = SizeCheck::exact;
  uint32_t announced = 0;   // compressed: the size the prefix announces
  uint64_t produced = 0;    // decoded bytes handed out since the start
  bool ended = false;       // every byte was handed out, and a compressed stream's end verified
  std::optional<Error> failure;  // once set, every read answers it until a rewind

  // Compressed only: the inflater and the block of payload bytes it reads from.
  std::unique_ptr<z_stream_s, InflaterRelease> inflater;
  std::unique_ptr<uint8_t[]> input;
  uint64_t inputRead = 0;  // stream bytes (after the prefix) read into input so far
};

// Starts decoding the payload of storedSize bytes at offset. truncated when the archive does not
// hold it; unpackFailed for a compressed payload shorter than its prefix; cannotRead when reading
// the prefix fails. where is left to the caller.
Result<PayloadStream> openPayloadStream(const PositionalFile& archive, uint64_t offset, uint32_t storedSize,
                                        bool compressed, SizeCheck check);

// The size the payload decodes to: the stored size, or the announced size.
inline uint64_t decodedSize(const PayloadStream& stream) {
  return stream.compressed ? stream.announced : stream.storedSize;
}

// Decodes the next bytes into into (at least one unless the payload has ended or into is empty).
// Failures: unpackFailed, cannotRead; where is left to the caller.
Result<size_t> readPayloadStream(PayloadStream& stream, std::span<uint8_t> into);

// Goes back to the payload's start, forgetting any failure.
void rewindPayloadStream(PayloadStream& stream);

}  // namespace oxtrel
