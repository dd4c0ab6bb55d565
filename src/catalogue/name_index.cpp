#include "catalogue/name_index.h"

#include <algorithm>
#include <cstring>

#include "catalogue/name_hash.h"

namespace oxtrel {

namespace {

// How many NULs begin [pos, end), eight bytes at a time while it can.
size_t nulRun(const char* pos, const char* end) {
  const char* p = pos;
  for (uint64_t word = 0; end - p >= 8; p += 8) {
    std::memcpy(&word, p, 8);
    if (word != 0) break;
  }
  while (p < end && *p == '\0') ++p;
  return size_t(p - pos);
}

// Takes names from consecutive pieces of the name block into the index.
struct NameScan {
  NameIndex& index;
  uint32_t namesLeft;

  void take(std::string_view name) {
    uint64_t key = nameKey(hashFileName(name));
    auto it = std::lower_bound(index.keys.begin(), index.keys.end(), key);
    if (it == index.keys.end() || *it != key) return;
    uint32_t& slot = index.names[size_t(it - index.keys.begin())];
    // A replacing name reuses its predecessor's bytes when it fits, so that a block repeating
    // one name does not pile up copies of it.
    if (slot == kNameNotFound || name.size() > std::strlen(index.text.data() + slot)) {
      slot = uint32_t(index.text.size());
      index.text.append(name).push_back('\0');
    } else {
      std::copy(name.begin(), name.end(), index.text.begin() + slot);
      index.text[slot + name.size()] = '\0';
    }
  }

  // Takes every name that ends inside bytes, and when last is set the one that runs to its end.
  // Returns how many bytes the names taken used; the rest begins a name still to be completed.
  size_t takeFrom(std::span<const uint8_t> bytes, bool last) {
    const char* begin = reinterpret_cast<const char*>(bytes.data());
    const char* end = begin + bytes.size();
    const char* pos = begin;
    while (namesLeft > 0 && pos < end) {
      if (*pos == '\0') {
        // A run of NULs is a run of empty names, which share one hash: the last one stands for
        // them all. Sparse and zero-filled blocks pass here at memory speed.
        size_t taken = std::min<size_t>(nulRun(pos, end), namesLeft);
        take({});
        namesLeft -= uint32_t(taken);
        pos += taken;
        continue;
      }
      const char* nul = static_cast<const char*>(std::memchr(pos, 0, size_t(end - pos)));
      if (!nul && !last) break;
      const char* nameEnd = nul ? nul : end;
      take({pos, size_t(nameEnd - pos)});
      --namesLeft;
      pos = nul ? nul + 1 : end;
    }
    return size_t(pos - begin);
  }
};

NameIndex indexFor(std::vector<uint64_t> wanted, uint64_t blockLength) {
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  NameIndex index;
  index.keys = std::move(wanted);
  index.names.assign(index.keys.size(), kNameNotFound);
  // The names found never take more than the block and a NUL. Room for ordinary names is reserved
  // once and touched only as far as it is used, where growing by doubling would copy the text and
  // hold it twice; a block far larger than its records' names (a hole, say) is not trusted with more.
  uint64_t ordinary = std::max<uint64_t>(64 * 1024, 32 * uint64_t(index.keys.size()));
  index.text.reserve(size_t(std::min(blockLength + 1, ordinary)));
  return index;
}

}  // namespace

uint64_t nameKey(const NameHash& hash) {
  uint64_t key = 0;
  for (uint8_t b : hash) key = key << 8 | b;
  return key;
}

std::vector<uint64_t> requestedNameKeys(const Catalogue& catalogue) {
  std::vector<uint64_t> keys;
  keys.reserve(catalogue.files.size());
  for (const FileRecord& record : catalogue.files) keys.push_back(nameKey(record.hash));
  return keys;
}

NameIndex buildNameIndex(std::span<const uint8_t> nameBlock, uint32_t fileCount, std::vector<uint64_t> wanted) {
  NameIndex index = indexFor(std::move(wanted), nameBlock.size());
  NameScan{index, fileCount}.takeFrom(nameBlock, true);
  return index;
}

Result<NameIndex> readNameIndex(const PositionalFile& file, uint64_t offset, uint32_t length, uint32_t fileCount,
                                std::vector<uint64_t> wanted, size_t chunkSize) {
  NameIndex index = indexFor(std::move(wanted), length);
  NameScan scan{index, fileCount};
  std::vector<uint8_t> piece(std::max<size_t>(1, std::min<size_t>(chunkSize, length)));
  uint64_t done = 0;
  while (done < length && scan.namesLeft > 0) {
    size_t size = size_t(std::min<uint64_t>(piece.size(), length - done));
    if (Status read = readAt(file, offset + done, {piece.data(), size}); !read) {
      read.error().where = "name block";
      return std::move(read.error());
    }
    size_t used = scan.takeFrom({piece.data(), size}, done + size == length);
    // A name longer than the piece: read it again into one twice as large.
    if (used == 0) piece.resize(size_t(std::min<uint64_t>(piece.size() * 2, length - done)));
    done += used;
  }
  return index;
}

std::optional<std::string_view> lookup(const NameIndex& index, const NameHash& hash) {
  uint64_t key = nameKey(hash);
  auto it = std::lower_bound(index.keys.begin(), index.keys.end(), key);
  if (it == index.keys.end() || *it != key) return std::nullopt;
  uint32_t name = index.names[size_t(it - index.keys.begin())];
  if (name == kNameNotFound) return std::nullopt;
  return std::string_view(index.text.data() + name);
}

}  // namespace oxtrel
