#include "scratch.h"

#include <ftw.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace oxtrel::testing {

ScratchDir::ScratchDir(const std::string& parent) {
  std::string pattern = ((parent.empty() ? fs::temp_directory_path() : fs::path(parent)) / "oxtrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

namespace {

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? rmdir(path) : unlink(path);
}

}  // namespace

ScratchDir::~ScratchDir() {
  // One depth-first pass does it unless a test left a read-only directory behind.
  if (nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0) return;
  std::error_code ec;
  // Make every directory writable so removal succeeds.
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

PositionalFile memoryFile(const Bytes& bytes) {
  platform::File fd(memfd_create("archive", MFD_CLOEXEC));
  if (!fd.valid() || write(int(fd.get()), bytes.data(), bytes.size()) != ssize_t(bytes.size()))
    throw std::runtime_error("memfd failed");
  Result<PositionalFile> file = positionalFileFrom(std::move(fd));
  if (!file) throw std::runtime_error("memfd is not a regular file");
  return std::move(file).value();
}

}  // namespace oxtrel::testing
