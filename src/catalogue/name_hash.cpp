#include "catalogue/name_hash.h"

#include <array>

#include "catalogue/little_endian.h"

namespace oxtrel {

namespace {

// ASCII-only folding of the byte as a signed value; the locale never matters.
int32_t lowerSigned(char c) {
  int32_t v = static_cast<int8_t>(c);
  return (v >= 'A' && v <= 'Z') ? v + 32 : v;
}

uint8_t lowerByte(char c) { return uint8_t(lowerSigned(c)); }

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerSigned(a[i]) != lowerSigned(b[i])) return false;
  return true;
}

constexpr std::array<std::string_view, 5> kExtensionTable = {"", ".nif", ".kf", ".dds", ".wav"};

}  // namespace

uint32_t hashSpan(std::string_view bytes) {
  uint32_t h = 0;
  for (char c : bytes) h = h * 65599u + uint32_t(lowerSigned(c));
  return h;
}

NameHash computeNameHash(std::string_view base, std::string_view extension) {
  NameHash out{};
  const size_t n = base.size();
  out[2] = uint8_t(n);
  if (n > 0) {
    out[0] = lowerByte(base[n - 1]);
    out[3] = lowerByte(base[0]);
  }
  if (n > 2) out[1] = lowerByte(base[n - 2]);

  uint32_t h = n > 3 ? hashSpan(base.substr(1, n - 3)) : 0;
  storeLe32(out.data() + 4, h + hashSpan(extension));

  for (uint32_t k = 0; k < kExtensionTable.size(); ++k) {
    if (!equalsIgnoringAsciiCase(extension, kExtensionTable[k])) continue;
    out[3] = uint8_t(out[3] + (k & ~3u) * 32);
    out[0] = uint8_t(out[0] + (k & ~1u) * 64);
    out[1] = uint8_t(out[1] + k * 128);
    break;
  }
  return out;
}

SplitName splitAtLastDot(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {name, {}};
  return {name.substr(0, dot), name.substr(dot)};
}

NameHash hashFileName(std::string_view fullName) {
  SplitName split = splitAtLastDot(fullName);
  return computeNameHash(split.base, split.extension);
}

}  // namespace oxtrel
