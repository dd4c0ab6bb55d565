// make_corpus: writes a deterministic asset-like tree <out>/data/<top>/... for the benchmark.
//
// Folders nest below one top folder, every folder holds at least one file, file names are
// <word>_<n>.<ext> and unique by name hash across the tree (the archive's name index is global).
// Sizes are log-normal around the given median, scaled so that they add up to exactly --bytes.
// Contents come in two kinds, by extension:
//   .dds   block-compressed texels: 8-byte blocks of two 16-bit colours from a smooth colour
//          field and 32 bits of texel indices, flat in most blocks and noise in a --noise share;
//   other  structured records (vertex-like float runs, index runs, string tables), which deflate
//          well, mixed with runs of noise, --noise being the share of noise chunks.
// --noise thus sets the ratio that zlib reaches. Everything derives from --seed through integer
// arithmetic of its own, so the same arguments give the same bytes on any machine.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/name_hash.h"

namespace {

struct Options {
  std::string out;
  std::string top = "meshes";
  std::vector<std::string> extensions = {".nif"};
  uint64_t files = 0;
  uint64_t folders = 1;
  uint64_t bytes = 0;
  double median = 12288;
  double noise = 0.3;
  uint64_t seed = 1;
};

// splitmix64: tiny, fast and the same on every platform, unlike the standard distributions.
struct Random {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return double(next() >> 11) * 0x1.0p-53; }
  uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
  double normal() {
    double u = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
  }
};

const char* const kWords[] = {
    "anvil",  "arch",    "armor",   "arrow",  "axe",    "banner", "barrel", "basket", "beam",
    "bell",   "bench",   "boat",    "bone",   "book",   "boot",   "bottle", "bow",    "bridge",
    "bucket", "cabinet", "candle",  "cart",   "castle", "chain",  "chair",  "chest",  "cliff",
    "cloak",  "coin",    "column",  "crate",  "crown",  "cup",    "dagger", "door",   "dragon",
    "drum",   "fence",   "flag",    "forge",  "gate",   "gem",    "glove",  "hammer", "harp",
    "helmet", "hook",    "horn",    "house",  "jar",    "key",    "ladder", "lamp",   "lantern",
    "lever",  "mace",    "mask",    "mill",   "mug",    "oar",    "pillar", "pipe",   "plank",
    "plate",  "pot",     "quiver",  "ring",   "robe",   "rock",   "roof",   "rope",   "sack",
    "saddle", "scroll",  "shield",  "shrine", "sign",   "skull",  "sled",   "spear",  "staff",
    "stair",  "statue",  "stool",   "stump",  "sword",  "table",  "tent",   "torch",  "tower",
    "tree",   "tusk",    "urn",     "vase",   "wagon",  "wall",   "well",   "wheel",  "window",
};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

std::string word(Random& r) { return kWords[r.below(kWordCount)]; }

// Folder 0 is the top; each later folder hangs below an earlier one at most four levels down.
std::vector<std::string> makeFolders(const Options& o, Random& r) {
  std::vector<std::string> paths = {o.top};
  std::vector<int> depth = {0};
  std::set<std::string> taken = {o.top};
  while (paths.size() < o.folders) {
    size_t parent = r.below(paths.size());
    if (depth[parent] >= 4) continue;
    std::string path = paths[parent] + "/" + word(r);
    for (int n = 2; taken.count(path); ++n) path = paths[parent] + "/" + word(r) + std::to_string(n);
    taken.insert(path);
    paths.push_back(path);
    depth.push_back(depth[parent] + 1);
  }
  return paths;
}

// One file to every folder first, the rest weighted so that some folders are much fuller.
std::vector<size_t> assignFolders(const Options& o, Random& r) {
  std::vector<double> weight(o.folders);
  double total = 0;
  for (double& w : weight) total += (w = std::exp(r.normal()));
  std::vector<size_t> owner;
  for (size_t f = 0; f < o.folders && owner.size() < o.files; ++f) owner.push_back(f);
  while (owner.size() < o.files) {
    double pick = r.uniform() * total;
    size_t f = 0;
    while (f + 1 < weight.size() && pick >= weight[f]) pick -= weight[f++];
    owner.push_back(f);
  }
  std::sort(owner.begin(), owner.end());
  return owner;
}

// Log-normal with the given median and the spread that makes the mean hit bytes / files, then
// scaled so that the sizes add up to bytes exactly.
std::vector<uint64_t> makeSizes(const Options& o, Random& r) {
  double mean = double(o.bytes) / double(o.files);
  double sigma = mean > o.median ? std::sqrt(2.0 * std::log(mean / o.median)) : 0.25;
  std::vector<double> raw(o.files);
  double sum = 0;
  for (double& s : raw) sum += (s = o.median * std::exp(sigma * r.normal()));
  std::vector<uint64_t> sizes(o.files);
  uint64_t assigned = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    sizes[i] = std::max<uint64_t>(16, uint64_t(raw[i] * double(o.bytes) / sum));
    assigned += sizes[i];
  }
  // Rounding leftovers go to (or come from) the largest file.
  size_t largest = size_t(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
  sizes[largest] += o.bytes - assigned;
  return sizes;
}

void putFloat(std::vector<uint8_t>& out, float v) {
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  out.insert(out.end(), b, b + 4);
}

// Appends one chunk of about length bytes: noise with probability noise, else a record run.
void appendChunk(std::vector<uint8_t>& out, size_t length, double noise, Random& r) {
  if (r.uniform() < noise) {
    for (size_t i = 0; i < length; i += 8) {
      uint64_t v = r.next();
      out.insert(out.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 8);
    }
    return;
  }
  size_t end = out.size() + length;
  switch (r.below(3)) {
    case 0: {  // vertices: position, normal, uv on a coarse grid, so values repeat
      float x = float(r.below(64)), y = float(r.below(64)), z = float(r.below(16));
      while (out.size() < end) {
        x += float(int(r.below(3)) - 1) * 0.25f;
        y += float(int(r.below(3)) - 1) * 0.25f;
        for (float v : {x, y, z, 0.0f, 0.0f, 1.0f, x / 64.0f, y / 64.0f}) putFloat(out, v);
      }
      break;
    }
    case 1: {  // triangle strip indices: 16-bit, mostly consecutive
      uint16_t i = uint16_t(r.below(4096));
      while (out.size() < end) {
        i = uint16_t(i + 1 + (r.below(8) == 0 ? r.below(16) : 0));
        for (uint16_t v : {i, uint16_t(i + 1), uint16_t(i + 2)}) {
          out.push_back(uint8_t(v));
          out.push_back(uint8_t(v >> 8));
        }
      }
      break;
    }
    default: {  // a string table: length-prefixed names
      while (out.size() < end) {
        std::string s = word(r) + ":" + word(r) + "_" + std::to_string(r.below(100));
        out.push_back(uint8_t(s.size()));
        out.insert(out.end(), s.begin(), s.end());
      }
      break;
    }
  }
}

// A triangle wave of the given period and amplitude: a smooth field without floating point.
int wave(uint64_t x, uint64_t period, int amplitude) {
  int phase = int(x % period);
  int half = int(period / 2);
  return (phase < half ? phase : int(period) - phase) * amplitude / half;
}

void appendTexels(std::vector<uint8_t>& out, uint64_t size, double noise, Random& r) {
  const uint64_t blocksPerRow = 64ull << r.below(3);
  const int red = int(r.below(32)), green = int(r.below(64)), blue = int(r.below(32));
  static const uint32_t kFlat[] = {0x00000000, 0x55555555, 0xAAAAAAAA, 0x50505050};
  for (uint64_t i = 0; out.size() < size; ++i) {
    uint64_t x = i % blocksPerRow, y = i / blocksPerRow;
    uint32_t c0 = uint32_t((red + wave(x, 80, 16) + wave(y, 44, 8)) & 31) << 11 |
                  uint32_t((green + wave(x + y, 60, 32)) & 63) << 5 | uint32_t((blue + wave(x, 36, 16)) & 31);
    if (r.uniform() < noise) c0 ^= uint32_t(r.below(8));
    uint32_t c1 = (c0 - 0x0841u * uint32_t(r.below(3))) & 0xFFFF;
    uint32_t texels = r.uniform() < noise ? uint32_t(r.next()) : kFlat[r.below(4)] ^ uint32_t(x & 3);
    for (uint32_t v : {c0 | c1 << 16, texels})
      for (int b = 0; b < 4; ++b) out.push_back(uint8_t(v >> (8 * b)));
  }
}

void makeContent(std::vector<uint8_t>& out, const std::string& ext, uint64_t size, double noise, Random& r) {
  out.clear();
  static const char kHeader[] = "OXB asset file, version 20.0.0.5\n";
  out.insert(out.end(), kHeader, kHeader + sizeof kHeader - 1);
  if (ext == ".dds") {
    out.resize(128);  // a fixed-size header, as texture files have
    appendTexels(out, size, noise, r);
  } else {
    while (out.size() < size) appendChunk(out, 256 + r.below(3840), noise, r);
  }
  out.resize(size);
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view key = argv[i];
    const char* v = argv[i + 1];
    if (key == "--out") o.out = v;
    else if (key == "--top") o.top = v;
    else if (key == "--files") o.files = std::strtoull(v, nullptr, 10);
    else if (key == "--folders") o.folders = std::strtoull(v, nullptr, 10);
    else if (key == "--bytes") o.bytes = std::strtoull(v, nullptr, 10);
    else if (key == "--median") o.median = std::strtod(v, nullptr);
    else if (key == "--noise") o.noise = std::strtod(v, nullptr);
    else if (key == "--seed") o.seed = std::strtoull(v, nullptr, 10);
    else if (key == "--extensions") {
      o.extensions.clear();
      for (std::string_view rest = v; !rest.empty();) {
        size_t comma = std::min(rest.find(','), rest.size());
        o.extensions.emplace_back(rest.substr(0, comma));
        rest.remove_prefix(std::min(comma + 1, rest.size()));
      }
    } else return false;
  }
  return argc % 2 == 1 && !o.out.empty() && o.files > 0 && o.folders > 0 && o.folders <= o.files &&
         o.bytes >= 16 * o.files && !o.extensions.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: make_corpus --out DIR --files N --bytes N [--folders N] [--top NAME]\n"
                 "                   [--median BYTES] [--noise 0..1] [--extensions .a,.b] [--seed N]\n");
    return 2;
  }
  Random r{o.seed};
  std::vector<std::string> folders = makeFolders(o, r);
  std::vector<size_t> owner = assignFolders(o, r);
  std::vector<uint64_t> sizes = makeSizes(o, r);

  std::set<oxtrel::NameHash> hashes;
  std::vector<uint8_t> content;
  for (size_t i = 0; i < o.files; ++i) {
    std::string name;
    // The first extension is the common one; the others share a quarter of the files.
    const std::string& ext = o.extensions.size() == 1 || r.below(4) != 0
                                 ? o.extensions[0]
                                 : o.extensions[1 + r.below(o.extensions.size() - 1)];
    for (uint64_t n = r.below(1000);; ++n) {
      name = word(r) + "_" + std::to_string(n) + ext;
      if (hashes.insert(oxtrel::hashFileName(name)).second) break;
    }
    std::filesystem::path dir = std::filesystem::path(o.out) / "data" / folders[owner[i]];
    std::filesystem::create_directories(dir);
    Random contentRandom{o.seed * 1000003 + i};
    makeContent(content, ext, sizes[i], o.noise, contentRandom);
    std::ofstream file(dir / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    if (!file) {
      std::fprintf(stderr, "make_corpus: cannot write %s\n", (dir / name).c_str());
      return 1;
    }
  }
  return 0;
}
