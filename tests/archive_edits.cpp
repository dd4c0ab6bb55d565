#include "archive_edits.h"

#include <algorithm>

namespace oxtrel::testing {

namespace {

// Folders never hold a dot and files always do, so no path is a file and a folder at once.
const std::vector<std::string> kFolders = {"", "tex", "tex/walls", "Tex", "meshes/props/big", "snd"};
const std::vector<std::string> kNames = {"a.dds", "b.nif", "c.kf", "readme.txt", "e.wav", "f.bin"};

std::string randomContents(std::mt19937& rng) {
  static const std::vector<size_t> kSizes = {0, 0, 1, 5, 100, 5000, 70000};
  size_t size = rng() % 60 == 0 ? (size_t(3) << 19) : kSizes[rng() % kSizes.size()];
  std::string contents(size, '\0');
  bool text = rng() % 2 == 0;
  // Bytes 4 and 5 stay clear of the compressed-payload signature (a stored file with it is noted).
  for (size_t i = 0; i < size; ++i) contents[i] = text || i == 4 ? "lorem ipsum dolor\n"[rng() % 18] : char(rng());
  return contents;
}

std::string pathOf(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::string spelled(std::mt19937& rng, std::string folder) {
  for (char& c : folder)
    if (c == '/' && rng() % 2 == 0) c = '\\';
  return folder;
}

}  // namespace

EditableArchive randomEditableArchive(std::mt19937& rng, bool compressed) {
  TestArchive archive;
  archive.header.archiveFlags = compressed ? kCompressedFlag : 0;
  for (size_t f = 0, folders = 1 + rng() % 5; f < folders; ++f) {
    const std::string& folder = kFolders[rng() % kFolders.size()];
    TestFolder stored{.name = spelled(rng, folder)};
    for (const std::string& name : kNames) {
      if (rng() % 3 != 0) continue;
      Bytes plain = bytesOf(randomContents(rng));
      stored.files.push_back({.name = name, .payload = compressed ? compressedPayload(plain) : plain});
    }
    archive.folders.push_back(std::move(stored));
  }
  return {buildArchive(archive), compressed};
}

EditList randomEdits(std::mt19937& rng, const Tree& old) {
  EditList edits;
  std::vector<std::string> paths;
  for (const auto& [path, contents] : old) paths.push_back(path);
  for (size_t e = 0, count = 1 + rng() % 6; e < count; ++e) {
    unsigned kind = rng() % 4;
    if (kind == 0 && !paths.empty()) {
      edits.removePatterns.push_back(paths[rng() % paths.size()]);
    } else if (kind == 1 && !paths.empty()) {
      edits.files[paths[rng() % paths.size()]] = randomContents(rng);
    } else {
      std::string name = kNames[rng() % kNames.size()];
      if (rng() % 40 == 0)  // a case twin of a stored name
        for (char& c : name) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
      edits.files[pathOf(kFolders[rng() % kFolders.size()], name)] = randomContents(rng);
    }
  }
  return edits;
}

Tree applyEdits(Tree tree, const std::vector<std::string>& removedPaths, const EditList& edits) {
  for (const std::string& path : removedPaths) tree.erase(path);
  for (const auto& [path, contents] : edits.files) tree[path] = contents;
  return tree;
}

std::vector<std::string> changeLines(const Tree& before, const Tree& after) {
  std::vector<std::string> lines;
  for (const auto& [path, contents] : before) {
    auto now = after.find(path);
    if (now == after.end())
      lines.push_back("D " + path);
    else if (now->second != contents)
      lines.push_back("M " + path);
  }
  for (const auto& [path, contents] : after)
    if (!before.contains(path)) lines.push_back("A " + path);
  std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(2) < b.substr(2);
  });
  return lines;
}

}  // namespace oxtrel::testing
