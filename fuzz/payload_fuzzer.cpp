// Decodes a payload: the first byte chooses stored (even) or compressed (odd), the rest is the
// payload. Compressed payloads are held to zlib's verdict and bytes.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"
#include "extract/payload_decoder.h"
#include "zlib_reference.h"

namespace {

// Above this the reference would need a buffer of the whole announced size.
constexpr uint32_t kLargestReferenceCapacity = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oxtrel;
  static PayloadDecoder decoder = makePayloadDecoder();  // reused across inputs, as a run does
  if (size == 0) return 0;
  std::span<const uint8_t> payload(data + 1, size - 1);

  if (data[0] % 2 == 0) {
    Result<DecodedPayload> got = decodePayload(decoder, false, payload);
    if (!got || got->possiblyPacked != looksZlibPacked(payload) || got->bytes.data() != payload.data() ||
        got->bytes.size() != payload.size())
      std::abort();
    return 0;
  }

  if (payload.size() >= 4 && loadLe32(payload.data()) > kLargestReferenceCapacity) {
    Result<DecodedPayload> got = decodePayload(decoder, true, payload);
    if (got && got->bytes.size() > loadLe32(payload.data())) std::abort();
    return 0;
  }
  testing::Comparison c = testing::compareWithReference(decoder, payload);
  if (c.agreement == testing::Agreement::different) {
    std::fprintf(stderr, "decoder and zlib disagree: %s\n", c.detail.c_str());
    std::abort();
  }
  return 0;
}
