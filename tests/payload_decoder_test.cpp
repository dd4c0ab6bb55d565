// The decoder against zlib's one-shot uncompress, the reference for what a compressed payload
// means: over valid and damaged streams both must succeed or fail together, with the same bytes.

#include "extract/payload_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <random>
#include <string>

#include "allocation_probe.h"
#include "archive_builder.h"
#include "catalogue/little_endian.h"
#include "zlib_reference.h"

namespace oxtrel {
namespace {

using namespace oxtrel::testing;

Bytes payloadOf(uint32_t unpackedSize, std::span<const uint8_t> stream) {
  Bytes payload(4 + stream.size());
  storeLe32(payload.data(), unpackedSize);
  std::copy(stream.begin(), stream.end(), payload.begin() + 4);
  return payload;
}

std::string textOf(std::span<const uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// ---- The corpus -------------------------------------------------------------------------------

Bytes repeatedText() {
  const std::string line = "The quick brown fox jumps over the lazy dog; pack my box with five dozen jugs. ";
  std::string text;
  for (int i = 0; text.size() < 1500; ++i) text += line.substr(size_t(i) % 7) + std::to_string(i * 7919) + "\n";
  return bytesOf(text);
}

Bytes randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = uint8_t(rng());
  return out;
}

Bytes longRuns() {
  Bytes out(3000, 'x');
  out.insert(out.end(), 2500, 0);
  for (int i = 0; i < 400; ++i) out.push_back(uint8_t(i % 3 == 0 ? 'a' : 'b'));
  return out;
}

struct Plain {
  std::string name;
  Bytes bytes;
};

std::vector<Plain> plainKinds() {
  return {{"empty", {}},
          {"short", bytesOf("hello")},
          {"text", repeatedText()},
          {"random", randomBytes(700, 7)},
          {"runs", longRuns()}};
}

struct Encoding {
  std::string name;
  int level;
  int windowBits;
  int strategy;
  int flushEvery;  // 0: one deflate call; else Z_SYNC_FLUSH after every this many input bytes
};

std::vector<Encoding> encodings() {
  return {{"level1", 1, 15, Z_DEFAULT_STRATEGY, 0},
          {"level6", 6, 15, Z_DEFAULT_STRATEGY, 0},
          {"level9", 9, 15, Z_DEFAULT_STRATEGY, 0},
          {"fixed", 6, 15, Z_FIXED, 0},
          {"huffman-only", 6, 15, Z_HUFFMAN_ONLY, 0},
          {"rle", 6, 15, Z_RLE, 0},
          {"stored", 0, 15, Z_DEFAULT_STRATEGY, 0},
          {"window512", 9, 9, Z_DEFAULT_STRATEGY, 0},
          {"sync-flushed", 6, 15, Z_DEFAULT_STRATEGY, 600}};
}

Bytes deflateWith(const Bytes& plain, const Encoding& e, const Bytes& dictionary = {}) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, e.level, Z_DEFLATED, e.windowBits, 8, e.strategy), Z_OK);
  if (!dictionary.empty()) deflateSetDictionary(&s, dictionary.data(), uInt(dictionary.size()));
  Bytes out(deflateBound(&s, uLong(plain.size())) + 64 * (plain.size() / 100 + 1));
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  size_t at = 0;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    size_t chunk = e.flushEvery ? std::min<size_t>(size_t(e.flushEvery), plain.size() - at) : plain.size() - at;
    bool last = at + chunk == plain.size();
    s.next_in = const_cast<uint8_t*>(plain.data() + at);
    s.avail_in = uInt(chunk);
    result = deflate(&s, last ? Z_FINISH : Z_SYNC_FLUSH);
    EXPECT_TRUE(result == Z_OK || result == Z_STREAM_END);
    at += chunk;
  }
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

// A hand-written stream that zlib refuses only for declaring more literal/length codes than
// deflate allows (287); everything else about it, Adler-32 included, is sound.
Bytes overlongLiteralTableStream() {
  Bytes out{0x78, 0x01};
  uint32_t bits = 0;
  int count = 0;
  auto put = [&](uint32_t value, int n) {  // n bits, least significant first
    bits |= value << count;
    count += n;
    while (count >= 8) {
      out.push_back(uint8_t(bits));
      bits >>= 8;
      count -= 8;
    }
  };
  auto putCode = [&](uint32_t code, int n) {  // Huffman codes go most significant bit first
    for (int i = n - 1; i >= 0; --i) put((code >> i) & 1, 1);
  };
  put(1, 1);        // final block
  put(2, 2);        // dynamic Huffman
  put(287 - 257, 5);
  put(0, 5);        // one distance code
  put(18 - 4, 4);   // code length codes up to symbol 1 in the permuted order
  // Code length code lengths in order 16,17,18,0,8,7,9,6,10,5,11,4,12,3,13,2,14,1:
  // 18 -> "0", 0 -> "10", 1 -> "11".
  const int precode[18] = {0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  for (int len : precode) put(uint32_t(len), 3);
  auto zeros = [&](int n) {
    putCode(0, 1);
    put(uint32_t(n - 11), 7);
  };
  auto one = [&] { putCode(3, 2); };
  zeros(65);           // literals 0..64
  one();               // 'A'
  zeros(138);          // 66..203
  zeros(52);           // 204..255
  one();               // end of block
  zeros(30);           // 257..286
  one();               // distance code 0
  for (int i = 0; i < 3; ++i) putCode(0, 1);  // "AAA"
  putCode(1, 1);                              // end of block
  if (count) put(0, 8 - count);
  uint32_t adler = uint32_t(adler32(1, reinterpret_cast<const Bytef*>("AAA"), 3));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(adler >> shift));
  return out;
}

// ---- The comparison ---------------------------------------------------------------------------

struct AgreementTally {
  PayloadDecoder decoder = makePayloadDecoder();
  size_t cases = 0;
  size_t disagreements = 0;
  size_t knownDifferences = 0;

  // label names the case only when it has to be reported.
  void check(std::span<const uint8_t> stream, uint32_t capacity, const std::function<std::string()>& label) {
    ++cases;
    Comparison c = compareWithReference(decoder, payloadOf(capacity, stream));
    if (c.agreement == Agreement::same) return;
    if (c.agreement == Agreement::knownDifference) {
      ++knownDifferences;
      std::printf("known difference: %s: %s\n", label().c_str(), c.detail.c_str());
      return;
    }
    if (++disagreements <= 20) ADD_FAILURE() << label() << ": " << c.detail;
  }
};

// Every cut and every bit flip (and inverted byte) of one stream, plus capacities around the true length.
void damageEveryByte(AgreementTally& a, const std::string& name, const Bytes& stream, uint32_t plainSize) {
  auto named = [&](std::string what, size_t at) { return [&, what, at] { return name + " " + what + " " + std::to_string(at); }; };
  for (uint32_t capacity : {plainSize - 1, plainSize, plainSize + 1, 2 * plainSize + 100}) {
    if (capacity == 0 || capacity == uint32_t(-1)) continue;
    a.check(stream, capacity, named("capacity", capacity));
  }
  uint32_t roomy = plainSize + 64;  // a flip that changes the length is caught by the checksum
  for (size_t cut = 0; cut < stream.size(); ++cut)
    a.check(std::span(stream).first(cut), roomy, named("cut at", cut));
  Bytes flipped = stream;
  for (size_t at = 0; at < stream.size(); ++at) {
    for (unsigned mask : {0x01u, 0x02u, 0x04u, 0x08u, 0x10u, 0x20u, 0x40u, 0x80u, 0xFFu}) {
      flipped[at] ^= uint8_t(mask);
      a.check(flipped, roomy, named("xor " + std::to_string(mask) + " at", at));
      flipped[at] ^= uint8_t(mask);
    }
  }
}

Bytes withHeader(Bytes stream, uint8_t cmf, uint8_t flags) {
  uint16_t check = uint16_t(cmf << 8 | (flags & 0xE0));
  flags = uint8_t((flags & 0xE0) | (31 - check % 31) % 31);
  stream[0] = cmf;
  stream[1] = flags;
  return stream;
}

TEST(PayloadDecoder, AgreesWithZlibOnValidAndDamagedStreams) {
  AgreementTally a;
  for (const Plain& plain : plainKinds()) {
    uint32_t size = uint32_t(plain.bytes.size());
    for (const Encoding& e : encodings()) {
      Bytes stream = deflateWith(plain.bytes, e);
      std::string name = plain.name + "/" + e.name;
      damageEveryByte(a, name, stream, size);

      for (const Bytes& tail : {Bytes{0}, bytesOf("garbage after the stream"), deflateWith(plain.bytes, e)}) {
        Bytes trailing = stream;
        trailing.insert(trailing.end(), tail.begin(), tail.end());
        a.check(trailing, size + 1, [&] { return name + " with " + std::to_string(tail.size()) + " trailing bytes"; });
      }
      Bytes badAdler = stream;
      badAdler.back() ^= 0x40;
      a.check(badAdler, size + 1, [&] { return name + " wrong Adler-32"; });
      a.check(std::span(stream).subspan(2), size + 1, [&] { return name + " raw deflate, no header"; });

      for (uint8_t cm : {uint8_t(7), uint8_t(9), uint8_t(15)})
        a.check(withHeader(stream, uint8_t(0x70 | cm), 0x80), size + 1, [&] { return name + " CM " + std::to_string(cm); });
      for (uint8_t cinfo = 0; cinfo < 16; ++cinfo)
        a.check(withHeader(stream, uint8_t(cinfo << 4 | 8), 0x80), size + 1,
                [&] { return name + " CINFO " + std::to_string(cinfo); });
      Bytes badCheck = stream;
      badCheck[1] ^= 0x01;
      a.check(badCheck, size + 1, [&] { return name + " bad FCHECK"; });
      a.check(withHeader(stream, stream[0], uint8_t(stream[1] | 0x20)), size + 1, [&] { return name + " FDICT set"; });
    }
    Bytes dictionary = bytesOf("quick brown fox lazy dog");
    a.check(deflateWith(plain.bytes, encodings()[1], dictionary), size + 1,
            [&] { return plain.name + " with a preset dictionary"; });
  }
  a.check({}, 1, [] { return std::string("empty input"); });
  Bytes overlong = overlongLiteralTableStream();
  damageEveryByte(a, "287 literal/length codes", overlong, 3);

  std::printf("%zu cases, %zu known differences\n", a.cases, a.knownDifferences);
  EXPECT_EQ(a.disagreements, 0u);
  EXPECT_GT(a.cases, 150000u);  // the corpus really was built
}

// ---- The decoder's own edges ------------------------------------------------------------------

TEST(PayloadDecoder, CompressedEdges) {
  PayloadDecoder d = makePayloadDecoder();
  Bytes plain = bytesOf("edges of the compressed payload, edges of the compressed payload");
  Bytes good = compressedPayload(plain);

  Bytes corrupt = good;
  storeLe32(corrupt.data(), 0);
  for (size_t i = 4; i < corrupt.size(); ++i) corrupt[i] = uint8_t(~corrupt[i]);
  Result<DecodedPayload> r = decodePayload(d, true, corrupt);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r->bytes.empty());

  for (size_t n = 0; n < 4; ++n)
    EXPECT_FALSE(decodePayload(d, true, std::span(good).first(n)).ok()) << n;

  EXPECT_FALSE(decodePayload(d, true, compressedPayload(plain, uint32_t(plain.size() - 1))).ok());

  r = decodePayload(d, true, compressedPayload(plain, uint32_t(plain.size() + 1000)));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(textOf(r->bytes), textOf(plain));
}

TEST(PayloadDecoder, AHugeUnpackedSizeDoesNotAllocateIt) {
  PayloadDecoder d = makePayloadDecoder();
  Bytes plain = bytesOf("small");
  armAllocationProbe();
  Result<DecodedPayload> r = decodePayload(d, true, compressedPayload(plain, 0xFFFFFFFF));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(textOf(r->bytes), "small");
  EXPECT_LT(largestAllocationSinceArmed(), size_t(1) << 20);
  EXPECT_LT(d.output.capacity, size_t(1) << 20);  // large buffers are mapped, which the probe misses
}

TEST(PayloadDecoder, OneDecoderServesEntriesOfAnySizeInTurn) {
  PayloadDecoder d = makePayloadDecoder();
  Bytes big = randomBytes(100000, 3);
  Bytes small = bytesOf("tiny");
  for (const Bytes* plain : {&big, &small, &big}) {
    Result<DecodedPayload> r = decodePayload(d, true, compressedPayload(*plain));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(textOf(r->bytes), textOf(*plain));
  }
}

TEST(PayloadDecoder, StoredPayloadsAreWrittenUnchangedAndOnlyTheDefaultHeaderIsFlagged) {
  PayloadDecoder d = makePayloadDecoder();
  struct Case {
    Bytes payload;
    bool possiblyPacked;
  } cases[] = {
      {{}, false},
      {{1, 2, 3, 4, 0x78}, false},
      {{1, 2, 3, 4, 0x78, 0x9C}, true},
      {{1, 2, 3, 4, 0x78, 0x9C, 0x4B, 0x04, 0x00}, true},
      {{1, 2, 3, 4, 0x78, 0x01, 0x4B}, false},
      {{1, 2, 3, 4, 0x78, 0xDA, 0x4B}, false},
      {{0x78, 0x9C, 3, 4, 5, 6}, false},
  };
  for (const Case& c : cases) {
    Result<DecodedPayload> r = decodePayload(d, false, c.payload);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->possiblyPacked, c.possiblyPacked) << c.payload.size();
    EXPECT_EQ(r->bytes.data(), c.payload.data());
    EXPECT_EQ(r->bytes.size(), c.payload.size());
  }
}

}  // namespace
}  // namespace oxtrel
