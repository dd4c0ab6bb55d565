// The streaming reader against readEntry, the reference for an entry's bytes: over valid and
// damaged payloads of both kinds, read in pieces of every size and with seeks both ways, from
// several threads at once, a reader gives readEntry's bytes or its error. It is stricter only
// where a stream's inflated count differs from the count its prefix announces.

#include <oxtrel/oxtrel.h>

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"
#include "catalogue/archive_records.h"
#include "scratch.h"
#include "zlib_reference.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

Bytes plainOf(size_t size, bool compressible, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = compressible ? uint8_t(size_t{97} + (i + i / 97) % 13 + rng() % 2) : uint8_t(rng());
  return out;
}

// Payloads of every size that matters (empty, one byte, across the reader's input block), valid,
// and damaged in every way a file can be: cut, flipped, trailing bytes, announced sizes off.
std::vector<TestFile> payloadsOf(bool compressed) {
  std::vector<TestFile> files;
  std::mt19937 rng(19);
  auto add = [&](Bytes payload) { files.push_back({.name = "e" + std::to_string(files.size()), .payload = std::move(payload)}); };
  const size_t sizes[] = {0, 1, 100, 5000, 70000, 300000};
  for (size_t size : sizes) {
    for (bool compressible : {true, false}) {
      Bytes plain = plainOf(size, compressible, uint32_t(size));
      if (!compressed) {
        add(plain);
        continue;
      }
      Bytes good = compressedPayload(plain);
      add(good);
      if (size < 100 || (size > 5000 && !compressible)) continue;
      for (int64_t delta : {-1, 1, 1000}) add(compressedPayload(plain, uint32_t(int64_t(size) + delta)));
      for (uint32_t announced : {0u, 0xFFFFFFFFu}) add(compressedPayload(plain, announced));
      for (size_t cut : {size_t(0), size_t(3), size_t(5), good.size() / 2, good.size() - 4, good.size() - 1})
        add(Bytes(good.begin(), good.begin() + std::ptrdiff_t(cut)));
      for (int i = 0; i < 12; ++i) {
        Bytes flipped = good;
        flipped[kUnpackedSizeBytes + rng() % (good.size() - kUnpackedSizeBytes)] ^= uint8_t(1 + rng() % 255);
        add(flipped);
      }
      Bytes trailing = good;
      trailing.insert(trailing.end(), {0x78, 0x9C, 1, 2, 3});
      add(trailing);
    }
  }
  // A stored payload that looks compressed is still read unchanged.
  add({1, 2, 3, 4, 0x78, 0x9C, 0x4B, 0x04, 0x00});
  files.push_back({.name = "past-the-end", .payload = bytesOf("abc"), .offset = 0x7FFFFFF0});
  files.push_back({.name = "runs-past-the-end", .payload = bytesOf("abc"), .size = 1u << 20});
  return files;
}

struct Outcome {
  bool ok = false;
  Bytes bytes;
  Error error;
};

Outcome readAll(EntryReader& reader, size_t chunk) {
  Outcome out;
  std::vector<std::byte> block(chunk);
  for (;;) {
    Result<size_t> n = read(reader, block);
    if (!n) {
      out.error = n.error();
      return out;
    }
    if (*n == 0) break;
    EXPECT_LE(*n, chunk);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(block.data());
    out.bytes.insert(out.bytes.end(), p, p + *n);
  }
  out.ok = true;
  return out;
}

// zlib refuses a few structural faults that readEntry's inflater lets pass (zlib_reference.h).
bool knownInflaterDifference(const Archive& archive, const Entry& entry) {
  Bytes payload(entry.storedSize);
  Result<PositionalFile> file = openPositionalFile(archivePath(archive).c_str());
  if (!file || !readAt(*file, entry.offset, payload) || payload.size() < kUnpackedSizeBytes) return false;
  return isKnownSkippedCheck(referenceRefusal(std::span(payload).subspan(kUnpackedSizeBytes), loadLe32(payload.data())));
}

void checkAgainstReadEntry(const Archive& archive, const Entry& entry, std::mt19937& rng) {
  SCOPED_TRACE(entry.path);
  Result<std::vector<uint8_t>> whole = readEntry(archive, entry);
  Result<EntryReader> opened = openEntryReader(archive, entry);
  if (!opened) {
    ASSERT_FALSE(whole.ok());
    EXPECT_EQ(opened.error().kind, whole.error().kind);
    EXPECT_EQ(opened.error().where, entry.path);
    return;
  }
  EntryReader& reader = *opened;
  const uint64_t size = decodedSize(reader);
  const bool countDiffers = whole && whole->size() != size;
  for (size_t chunk : {size_t(1), size_t(3), size_t(4096), size_t(65537), size_t(1) << 20}) {
    if (chunk < 4096 && size > 70000) continue;
    ASSERT_TRUE(seek(reader, 0).ok());
    Outcome got = readAll(reader, chunk);
    if (!whole || countDiffers) {
      ASSERT_FALSE(got.ok) << chunk;
      EXPECT_EQ(got.error.kind, whole ? ErrorKind::unpackFailed : whole.error().kind);
      EXPECT_EQ(got.error.where, entry.path);
      EXPECT_FALSE(read(reader, std::span<std::byte>()).ok()) << "a failure is answered again";
      continue;
    }
    if (!got.ok && knownInflaterDifference(archive, entry)) return;
    ASSERT_TRUE(got.ok) << chunk << ": " << message(got.error);
    EXPECT_EQ(got.bytes, *whole) << chunk;
    EXPECT_EQ(position(reader), size);
  }
  if (!whole || countDiffers) return;

  // Seeks forwards and backwards, each followed by a read, land on readEntry's bytes.
  for (int i = 0; i < 8; ++i) {
    uint64_t at = rng() % (size + 1);
    ASSERT_TRUE(seek(reader, at).ok()) << at;
    EXPECT_EQ(position(reader), at);
    std::vector<std::byte> block(size_t(rng() % 5000 + 1));
    Result<size_t> n = read(reader, block);
    ASSERT_TRUE(n.ok()) << message(n.error());
    ASSERT_EQ(*n, std::min<uint64_t>(block.size(), size - at));
    EXPECT_TRUE(std::equal(whole->begin() + std::ptrdiff_t(at), whole->begin() + std::ptrdiff_t(at + *n),
                           reinterpret_cast<const uint8_t*>(block.data())))
        << "at " << at;
  }
  Status past = seek(reader, size + 1);
  ASSERT_FALSE(past.ok());
  EXPECT_EQ(past.error().kind, ErrorKind::invalidArgument);
}

TEST(EntryReader, GivesReadEntrysBytesOrErrorsForEveryPayloadChunkAndSeek) {
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "stored");
    ScratchDir dir;
    TestArchive built;
    built.header.archiveFlags = compressed ? kCompressedFlag : 0;
    built.folders = {{.name = "f", .files = payloadsOf(compressed)}};
    writeFile(dir / "a.vrk", buildArchive(built));
    Result<Archive> archive = openArchive(dir / "a.vrk");
    ASSERT_TRUE(archive.ok()) << message(archive.error());

    // Three threads read the archive at once, each with its own readers.
    constexpr size_t kThreads = 3;
    std::vector<std::jthread> threads;
    for (size_t t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        std::mt19937 rng{uint32_t(t)};
        for (size_t i = t; i < entryCount(*archive); i += kThreads) checkAgainstReadEntry(*archive, entryAt(*archive, i), rng);
      });
    threads.clear();

    EntryReader moved = std::move(openEntryReader(*archive, entryAt(*archive, 1)).value());
    EntryReader taker = std::move(moved);
    EXPECT_EQ(read(moved, {}).error().kind, ErrorKind::invalidArgument);
    EXPECT_EQ(seek(moved, 0).error().kind, ErrorKind::invalidArgument);
    EXPECT_EQ(decodedSize(moved), 0u);
    Archive gone = std::move(archive.value());
    EXPECT_EQ(openEntryReader(*archive, entryAt(gone, 1)).error().kind, ErrorKind::invalidArgument);
  }
}

}  // namespace
}  // namespace oxtrel
