#include "zlib_reference.h"

#include <zlib.h>

#include <algorithm>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"

namespace oxtrel::testing {

Inflated referenceInflate(std::span<const uint8_t> stream, uint32_t capacity) {
  static const uint8_t none = 0;
  Inflated r;
  r.bytes.resize(capacity);
  uLongf length = capacity;
  r.ok = uncompress(r.bytes.data(), &length, stream.empty() ? &none : stream.data(), uLong(stream.size())) == Z_OK;
  r.bytes.resize(r.ok ? length : 0);
  return r;
}

std::string referenceRefusal(std::span<const uint8_t> stream, uint32_t capacity) {
  z_stream s{};
  inflateInit(&s);
  Bytes out(capacity);
  s.next_in = const_cast<uint8_t*>(stream.data());
  s.avail_in = uInt(stream.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  int result = inflate(&s, Z_FINISH);
  std::string message = result == Z_STREAM_END ? "" : s.msg ? s.msg : "inflate result " + std::to_string(result);
  inflateEnd(&s);
  return message;
}

// A stream that fails only these checks and still matches its Adler-32 is accepted by the decoder
// and refused by zlib:
//   "too many length or distance symbols"  more than 286 literal/length or 30 distance codes
//   "invalid code lengths set"             a code length code with a single codeword
//   "invalid literal/length code"          symbols 286/287, or the unused half of a one-codeword code
//   "invalid distance code"                symbols 30/31, likewise
//   "invalid bit length repeat"            a repeated code length running past the declared count
bool isKnownSkippedCheck(const std::string& zlibMessage) {
  for (const char* skipped : {"too many length or distance symbols", "invalid code lengths set",
                              "invalid literal/length code", "invalid distance code", "invalid bit length repeat"})
    if (zlibMessage == skipped) return true;
  return false;
}

namespace {

std::string describe(const Result<DecodedPayload>& got) {
  if (!got) return "unpackFailed";
  return got->possiblyPacked ? "possiblyPacked" : "write of " + std::to_string(got->bytes.size()) + " bytes";
}

}  // namespace

Comparison compareWithReference(PayloadDecoder& decoder, std::span<const uint8_t> payload) {
  Result<DecodedPayload> got = decodePayload(decoder, true, payload);
  if (payload.size() < kUnpackedSizeBytes)
    return !got ? Comparison{}
                                                      : Comparison{Agreement::different, "short payload: " + describe(got)};
  uint32_t capacity = loadLe32(payload.data());
  if (capacity == 0)
    return got && !got->possiblyPacked && got->bytes.empty()
               ? Comparison{}
               : Comparison{Agreement::different, "unpackedSize 0: " + describe(got)};

  std::span<const uint8_t> stream = payload.subspan(kUnpackedSizeBytes);
  Inflated expected = referenceInflate(stream, capacity);
  bool ok = got && !got->possiblyPacked;
  if (ok == expected.ok && (!ok || std::equal(got->bytes.begin(), got->bytes.end(), expected.bytes.begin(),
                                              expected.bytes.end())))
    return {};
  std::string refusal = expected.ok ? "" : referenceRefusal(stream, capacity);
  std::string detail = "decoder: " + describe(got) + "; zlib: " +
                       (expected.ok ? "write of " + std::to_string(expected.bytes.size()) + " bytes" : refusal);
  return {ok && isKnownSkippedCheck(refusal) ? Agreement::knownDifference : Agreement::different, detail};
}

}  // namespace oxtrel::testing
