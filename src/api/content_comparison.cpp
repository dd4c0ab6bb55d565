#include "api/content_comparison.h"

#include <algorithm>
#include <cstring>
#include <span>

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

Result<bool> sameDecoded(const Side& a, const Side& b) {
  Result<std::vector<uint8_t>> x = readEntry(a.archive, a.entry);
  if (!x) return naming(x.error(), a);
  Result<std::vector<uint8_t>> y = readEntry(b.archive, b.entry);
  if (!y) return naming(y.error(), b);
  return *x == *y;
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
