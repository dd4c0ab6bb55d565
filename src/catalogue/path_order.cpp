#include "catalogue/path_order.h"

#include <algorithm>

namespace oxtrel {

namespace {

unsigned char pathByte(char c) { return c == '\\' ? '/' : static_cast<unsigned char>(c); }

// The composed path read byte by byte: folder, separator, name.
struct PathCursor {
  std::string_view pieces[3];
  int piece = 0;
  size_t at = 0;

  explicit PathCursor(const PathedRecord& r)
      : pieces{r.folder, r.folder.empty() ? std::string_view() : std::string_view("/"), r.name} {
    settle();
  }
  void settle() {
    while (piece < 3 && at == pieces[piece].size()) {
      ++piece;
      at = 0;
    }
  }
  bool done() const { return piece == 3; }
  unsigned char byte() const { return pathByte(pieces[piece][at]); }
  void next() {
    ++at;
    settle();
  }
};

int compareMapped(std::string_view a, std::string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = pathByte(a[i]), y = pathByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

int comparePaths(const PathedRecord& a, const PathedRecord& b) {
  // Records of one folder share its name's bytes: only the file names need comparing.
  if (a.folder.data() == b.folder.data() && a.folder.size() == b.folder.size()) return compareMapped(a.name, b.name);
  PathCursor x(a), y(b);
  for (; !x.done() && !y.done(); x.next(), y.next())
    if (x.byte() != y.byte()) return x.byte() < y.byte() ? -1 : 1;
  return x.done() == y.done() ? 0 : x.done() ? -1 : 1;
}

std::vector<PathedRecord> orderByPath(const Catalogue& catalogue, const NameIndex& index,
                                      std::span<const size_t> records, uint64_t& unnamed) {
  std::vector<PathedRecord> ordered;
  ordered.reserve(records.size());
  unnamed = 0;
  size_t folder = 0;
  for (size_t record : records) {
    std::optional<std::string_view> name = lookup(index, catalogue.files[record].hash);
    if (!name) {
      ++unnamed;
      continue;
    }
    // Records come in table order, so their folder only moves forward.
    if (record < catalogue.fileStarts[folder] || record >= catalogue.fileStarts[folder + 1])
      folder = folderOfRecord(catalogue, record);
    ordered.push_back({folderName(catalogue, folder), *name, record});
  }
  std::sort(ordered.begin(), ordered.end(), [](const PathedRecord& a, const PathedRecord& b) {
    int order = comparePaths(a, b);
    return order != 0 ? order < 0 : a.record < b.record;
  });
  // Of each run of one path, the last in table order stays.
  size_t kept = 0;
  for (size_t i = 0; i < ordered.size(); ++i) {
    if (i + 1 < ordered.size() && comparePaths(ordered[i], ordered[i + 1]) == 0) continue;
    ordered[kept++] = ordered[i];
  }
  ordered.resize(kept);
  return ordered;
}

}  // namespace oxtrel
