#include "catalogue/foreign_format.h"

#include <algorithm>
#include <array>

#include "pack/catalogue_tables.h"

namespace oxtrel {

namespace {

template <size_t N>
bool startsWith(std::span<const uint8_t> head, const std::array<uint8_t, N>& signature) {
  return head.size() >= N && std::equal(signature.begin(), signature.end(), head.begin());
}

constexpr size_t kTarChecksumAt = 148;
constexpr size_t kTarChecksumBytes = 8;
constexpr size_t kTarMagicAt = 257;

// The tar header checksum: the octal number in the field, optionally led by spaces and ended by
// NULs or spaces, must equal the sum of the header's bytes with the field itself counted as
// spaces (some writers summed signed bytes, so that sum counts too).
bool tarChecksumHolds(std::span<const uint8_t> header) {
  std::span<const uint8_t> field = header.subspan(kTarChecksumAt, kTarChecksumBytes);
  size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  uint64_t stored = 0;
  size_t digits = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) stored = stored * 8 + (field[i] - '0');
  if (digits == 0) return false;
  for (; i < field.size(); ++i)
    if (field[i] != ' ' && field[i] != '\0') return false;
  int64_t unsignedSum = 0, signedSum = 0;
  for (size_t k = 0; k < kForeignProbeBytes; ++k) {
    bool inField = k >= kTarChecksumAt && k < kTarChecksumAt + kTarChecksumBytes;
    uint8_t byte = inField ? uint8_t(' ') : header[k];
    unsignedSum += byte;
    signedSum += int8_t(byte);
  }
  return int64_t(stored) == unsignedSum || int64_t(stored) == signedSum;
}

// "ustar" at 257 alone is not enough: those bytes may lie in a .vrk archive's folder records or
// name block (a file called "ustar.txt"), while a .vrk archive whose first 512 bytes also sum to
// the octal number at 148 is not a thing that happens.
bool isTar(std::span<const uint8_t> head) {
  constexpr std::array<uint8_t, 6> kPosix = {'u', 's', 't', 'a', 'r', '\0'};
  constexpr std::array<uint8_t, 6> kOldGnu = {'u', 's', 't', 'a', 'r', ' '};
  if (head.size() < kForeignProbeBytes) return false;
  std::span<const uint8_t> magic = head.subspan(kTarMagicAt);
  return (startsWith(magic, kPosix) || startsWith(magic, kOldGnu)) && tarChecksumHolds(head);
}

}  // namespace

std::optional<std::string_view> foreignFormat(std::span<const uint8_t> head) {
  if (startsWith(head, kPackIdentification)) return std::nullopt;
  // Local file header, empty archive's end record, split archive's marker.
  constexpr std::array<std::array<uint8_t, 4>, 3> kZip = {{{'P', 'K', 3, 4}, {'P', 'K', 5, 6}, {'P', 'K', 7, 8}}};
  for (const auto& signature : kZip)
    if (startsWith(head, signature)) return "zip archive";
  // Magic, deflate as the method, and a flags byte whose reserved bits are clear.
  constexpr std::array<uint8_t, 3> kGzip = {0x1f, 0x8b, 0x08};
  if (startsWith(head, kGzip) && head.size() > 3 && (head[3] & 0xE0) == 0) return "gzip file";
  constexpr std::array<uint8_t, 6> kSevenZip = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  if (startsWith(head, kSevenZip)) return "7z archive";
  if (isTar(head)) return "tar archive";
  return std::nullopt;
}

}  // namespace oxtrel
