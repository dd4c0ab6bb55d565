#include "extract/payload_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "allocation_probe.h"
#include "archive_builder.h"
#include "scratch.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

// An archive-sized file of distinct bytes, so any byte served from the wrong place shows.
struct PatternFile {
  Bytes bytes;
  PositionalFile file;
  explicit PatternFile(size_t size) : bytes(size) {
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 131 + (i >> 8));
    file = memoryFile(bytes);
  }
  Bytes slice(size_t offset, size_t length) const { return Bytes(bytes.data() + offset, bytes.data() + offset + length); }
};

Bytes served(PayloadWindow& w, const PatternFile& f, uint64_t offset, size_t length) {
  auto span = readPayload(w, f.file, offset, length);
  EXPECT_TRUE(span.ok()) << offset << "+" << length;
  return span ? Bytes(span->begin(), span->end()) : Bytes{};
}

TEST(PayloadWindow, ConsecutivePayloadsAreReadAheadAndServedFromTheWindow) {
  PatternFile f(3 * kReadAhead);
  PayloadWindow w;
  EXPECT_EQ(served(w, f, 100, 50), f.slice(100, 50));
  EXPECT_EQ(w.filled, 50u);  // a first payload, or one after a jump, reads only itself
  EXPECT_EQ(served(w, f, 150, 10), f.slice(150, 10));
  EXPECT_EQ(w.start, 150u);
  EXPECT_EQ(w.filled, kReadAhead);
  for (uint64_t at = 160; at < 150 + kReadAhead - 1000; at += 1000) {
    EXPECT_EQ(served(w, f, at, 1000), f.slice(at, 1000));
    EXPECT_EQ(w.start, 150u);  // no read: still the same window
  }
}

TEST(PayloadWindow, EveryLayoutReadsExactBytes) {
  PatternFile f(3 * kReadAhead + 17);
  PayloadWindow w;
  struct Range {
    uint64_t offset;
    size_t length;
  };
  // Forward runs across window ends, backward jumps, overlaps, a payload larger than the
  // window, the last byte of the file, and empty payloads.
  for (Range r : std::vector<Range>{{0, 10}, {10, kReadAhead}, {10 + kReadAhead, 5000}, {4, 8}, {0, 2 * kReadAhead + 3},
                                    {2 * kReadAhead + 3, 9}, {f.bytes.size() - 1, 1}, {f.bytes.size(), 0}, {77, 0},
                                    {kReadAhead - 2, 4}, {f.bytes.size() - 20, 20}})
    EXPECT_EQ(served(w, f, r.offset, r.length), f.slice(r.offset, r.length)) << r.offset << "+" << r.length;
}

TEST(PayloadWindow, PayloadsPastTheEndAreRefusedWithoutSizingAnything) {
  PatternFile f(1000);
  PayloadWindow w;
  armAllocationProbe();
  EXPECT_FALSE(readPayload(w, f.file, 990, 11));
  EXPECT_FALSE(readPayload(w, f.file, 1001, 0));
  EXPECT_FALSE(readPayload(w, f.file, 0xFFFFFFF0u, 0x20));
  EXPECT_FALSE(readPayload(w, f.file, 0, 0xFFFFFFFFu));
  EXPECT_LT(largestAllocationSinceArmed(), 4096u);
  EXPECT_EQ(w.buffer.capacity, 0u);
  // Read ahead stops at the end of the file.
  EXPECT_EQ(served(w, f, 0, 10), f.slice(0, 10));
  EXPECT_EQ(served(w, f, 10, 10), f.slice(10, 10));
  EXPECT_EQ(w.filled, 990u);
}

TEST(PayloadWindow, ItsBufferGrowsToEverySizeAskedAndNeverShrinks) {
  GrowableBuffer buffer;
  EXPECT_EQ(reserveBytes(buffer, 0), nullptr);
  size_t largest = 0;
  // On the heap, then mapped (except under ThreadSanitizer), across page and huge-page
  // boundaries, then smaller again.
  constexpr size_t kEdge = 256 * 1024;
  for (size_t size : {size_t(1), size_t(4097), kEdge - 1, kEdge, kEdge + 1,
                      size_t(2) << 20, (size_t(2) << 20) + 1, size_t(5) << 20, size_t(100), size_t(0)}) {
    uint8_t* bytes = reserveBytes(buffer, size);
    largest = std::max(largest, size);
    EXPECT_GE(buffer.capacity, largest) << size;
    std::memset(bytes, 1, size);  // every byte promised can be written
    EXPECT_TRUE(size == largest || reserveBytes(buffer, size) == bytes) << size;
  }
}

}  // namespace
}  // namespace oxtrel
