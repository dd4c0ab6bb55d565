#pragma once

// zlib's one-shot uncompress as the reference for compressed payloads, and the comparison of the
// project's decoder against it.

#include <cstdint>
#include <span>
#include <string>

#include "archive_builder.h"
#include "extract/payload_decoder.h"

namespace oxtrel::testing {

struct Inflated {
  bool ok = false;
  Bytes bytes;
};

// uncompress into capacity bytes (at least 1).
Inflated referenceInflate(std::span<const uint8_t> stream, uint32_t capacity);

// Why zlib's streaming inflate refuses the stream, or "" when it does not.
std::string referenceRefusal(std::span<const uint8_t> stream, uint32_t capacity);

// True for the messages of the structural checks zlib makes and libdeflate skips.
bool isKnownSkippedCheck(const std::string& zlibMessage);

enum class Agreement { same, knownDifference, different };

struct Comparison {
  Agreement agreement = Agreement::same;
  std::string detail;  // what each side said, unless the same
};

// Decodes a compressed payload (4-byte unpackedSize, then the stream) and compares the verdict and
// bytes with uncompress at capacity unpackedSize. Sizes 0 and below 4 follow the decoder's own
// rules (an empty write; a failure).
Comparison compareWithReference(PayloadDecoder& decoder, std::span<const uint8_t> payload);

}  // namespace oxtrel::testing
