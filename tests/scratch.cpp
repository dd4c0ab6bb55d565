#include "scratch.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace oxtrel::testing {

ScratchDir::ScratchDir(const std::string& parent) {
  static std::atomic<uint64_t> made{0};
  fs::path base = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
  uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (platform::processId() << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("oxtrel-test-" + std::to_string(seed + made.fetch_add(1)));
    if (fs::create_directory(candidate)) {
      path = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path, ec);
  if (!ec) return;
  // A test left a read-only directory behind: make every directory writable so removal succeeds.
  ec.clear();
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> snapshotTree(const std::string& root) {
  std::map<std::string, std::string> tree;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(root, ec))) return tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      tree[rel] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[rel + "/"] = "";
    } else if (!it->is_regular_file()) {
      tree[rel] = "(special)";
    } else {
      Bytes b = readFile(it->path().string());
      tree[rel] = std::string(b.begin(), b.end());
    }
  }
  return tree;
}

void writeTree(const std::string& root, const std::map<std::string, std::string>& files) {
  for (const auto& [relative, contents] : files) {
    fs::path path = fs::path(root) / relative;
    fs::create_directories(path.parent_path());
    writeFile(path.string(), bytesOf(contents));
  }
}

// A file in a scratch directory, removed while open: it goes with the last handle.
PositionalFile memoryFile(const Bytes& bytes) {
  static const ScratchDir files;
  static std::atomic<uint64_t> made{0};
  std::string path = files / ("bytes-" + std::to_string(made.fetch_add(1)));
  writeFile(path, bytes);
  platform::File file;
  if (platform::openForReading(path, true, file) != 0) throw std::runtime_error("cannot open " + path);
  std::error_code ignored;
  fs::remove(path, ignored);
  Result<PositionalFile> opened = positionalFileFrom(std::move(file));
  if (!opened) throw std::runtime_error(path + " is not a regular file");
  return std::move(opened).value();
}

}  // namespace oxtrel::testing
