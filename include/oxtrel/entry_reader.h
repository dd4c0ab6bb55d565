#pragma once

// Reading one entry's contents piece by piece, as a file is read: memory stays a few hundred KiB
// whatever the entry's size, where readEntry holds the whole entry (and its compressed payload).
//
//   Result<EntryReader> reader = openEntryReader(archive, entry);
//   std::vector<std::byte> block(1 << 20);
//   for (;;) {
//     Result<size_t> n = read(*reader, block);
//     if (!n) return n.error();   // truncated, unpackFailed or cannotRead, naming the entry
//     if (*n == 0) break;         // the end of the entry
//     use(std::span(block).first(*n));
//   }
//
// The bytes are those readEntry returns. Where readEntry takes a compressed payload's inflated
// bytes whatever their count, a reader also requires the count the payload's prefix announces:
// a stream that ends before it or runs past it is unpackFailed when that is found, as is a
// checksum that fails at the stream's end. Bytes handed out before a failure were the stream's
// own, so a caller that must not act on a damaged entry's bytes keeps them until the end.
//
// Ownership: a reader refers to the archive, which must outlive it (moving the Archive is fine).
// EntryReader is move-only; a reader that was moved from fails every call with invalidArgument.
//
// Thread safety: one reader belongs to one thread at a time. Any number of readers may read one
// Archive at the same time, beside any other call on it: each reads at its own file offsets.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include <oxtrel/archive.h>
#include <oxtrel/export.h>
#include <oxtrel/result.h>

namespace oxtrel {

struct EntryReaderState;
struct OXTREL_API EntryReaderStateRelease {
  void operator()(EntryReaderState* state) const;
};

struct EntryReader {
  std::unique_ptr<EntryReaderState, EntryReaderStateRelease> state;  // null only after a move
};

// Opens a reader at the entry's first byte. entry must describe a record of this archive
// (entryAt, entries() or findEntry). Errors (where is the entry's path): truncated (the payload
// runs past the end of the archive), unpackFailed (a compressed payload too short to announce
// its size), cannotRead, invalidArgument (an archive that was moved from).
// The reader refers to the archive, which must outlive it.
[[nodiscard]] OXTREL_API Result<EntryReader> openEntryReader(const Archive& archive, const Entry& entry);

// Fills into as far as it can; 0 only at the end of the entry (or when into is empty). Verifies a
// compressed payload's checksum when its end is reached (unpackFailed otherwise). Memory: a few
// hundred KiB whatever the entry's size. Errors (where is the entry's path): unpackFailed,
// cannotRead; after one, every read answers it again until a seek back to the start. The
// contents of into are unspecified after a failure.
[[nodiscard]] OXTREL_API Result<size_t> read(EntryReader& reader, std::span<std::byte> into);

// Moves to position (0..size). A stored entry seeks directly; a compressed one going backwards
// starts inflating again from its start, and going forwards inflates the bytes between (so its
// errors are read's). invalidArgument past the end; the position is then unchanged.
[[nodiscard]] OXTREL_API Status seek(EntryReader& reader, uint64_t position);

// The number of bytes read or sought past from the start.
OXTREL_API uint64_t position(const EntryReader& reader);

// The decoded size: the stored size, or the size a compressed payload's prefix announces.
OXTREL_API uint64_t decodedSize(const EntryReader& reader);

}  // namespace oxtrel
