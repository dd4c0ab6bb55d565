#include "api/content_comparison.h"

#include <algorithm>
#include <cstring>
#include <span>

#include <oxtrel/entry_reader.h>

#include "api/archive_state.h"

namespace oxtrel {

namespace {

// One side of a comparison: its archive, its entry, and its buffer.
struct Side {
  const Archive& archive;
  const Entry& entry;
  std::vector<uint8_t>& buffer;
};

Error naming(Error error, const Side& side) {
  error.where = side.entry.path + " in " + archivePath(side.archive);
  return error;
}

Result<bool> sameStoredBytes(const Side& a, const Side& b) {
  const uint64_t size = a.entry.storedSize;
  for (uint64_t done = 0; done < size;) {
    const size_t piece = size_t(std::min<uint64_t>(size - done, kComparisonChunk));
    std::span<uint8_t> x(a.buffer.data(), piece), y(b.buffer.data(), piece);
    if (Status read = readAt(a.archive.state->file, a.entry.offset + done, x); !read) return naming(read.error(), a);
    if (Status read = readAt(b.archive.state->file, b.entry.offset + done, y); !read) return naming(read.error(), b);
    if (std::memcmp(x.data(), y.data(), piece) != 0) return false;
    done += piece;
  }
  return true;
}

// The decoded contents streamed through one reader.
struct DecodedStream {
  const Side& side;
  EntryReader reader;
  size_t have = 0;  // bytes in side.buffer
  size_t at = 0;    // of which compared so far
  bool ended = false;

  std::span<const uint8_t> pending() const { return {side.buffer.data() + at, have - at}; }
};

Status refill(DecodedStream& stream) {
  if (stream.ended || stream.at < stream.have) return {};
  Result<size_t> got = read(stream.reader, std::as_writable_bytes(std::span(stream.side.buffer)));
  if (!got) return naming(got.error(), stream.side);
  stream.have = *got;
  stream.at = 0;
  stream.ended = *got == 0;
  return {};
}

Result<bool> sameDecoded(const Side& a, const Side& b) {
  Result<EntryReader> x = openEntryReader(a.archive, a.entry);
  if (!x) return naming(x.error(), a);
  Result<EntryReader> y = openEntryReader(b.archive, b.entry);
  if (!y) return naming(y.error(), b);
  DecodedStream streams[2] = {{a, std::move(x.value())}, {b, std::move(y.value())}};
  bool same = true;
  while (true) {
    for (DecodedStream& stream : streams)
      if (Status filled = refill(stream); !filled) return std::move(filled.error());
    if (streams[0].ended && streams[1].ended) return same;
    // Once the answer is known, a compressed side is still read to its end, so that a damaged
    // stream is reported as such; a stored side has nothing left to check.
    if (same && (streams[0].ended || streams[1].ended)) same = false;
    if (same) {
      size_t n = std::min(streams[0].pending().size(), streams[1].pending().size());
      same = std::memcmp(streams[0].pending().data(), streams[1].pending().data(), n) == 0;
      streams[0].at += n;
      streams[1].at += n;
    }
    if (!same)
      for (DecodedStream& stream : streams) {
        stream.at = stream.have;
        if (!stream.side.entry.compressed) stream.ended = true;
      }
  }
}

}  // namespace

Result<bool> sameContents(const Archive& olderArchive, const Entry& older, const Archive& newerArchive,
                          const Entry& newer, ComparisonBuffers& buffers) {
  Side a{olderArchive, older, buffers.older}, b{newerArchive, newer, buffers.newer};
  for (const Side* side : {&a, &b})
    if (!side->entry.payloadInArchive) return naming(Error{ErrorKind::truncated, 0, {}}, *side);
  if (older.compressed == newer.compressed) {
    if (older.storedSize == newer.storedSize) {
      Result<bool> same = sameStoredBytes(a, b);
      if (!same || *same) return same;
    }
    // Two stored payloads are the contents themselves; only compressed ones can differ in bytes
    // and still decode alike.
    if (!older.compressed) return false;
  }
  return sameDecoded(a, b);
}

}  // namespace oxtrel
