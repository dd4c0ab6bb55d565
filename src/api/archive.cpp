#include <oxtrel/archive.h>

#include <algorithm>

#include "api/archive_state.h"
#include "extract/archive_listing.h"
#include "extract/payload_decoder.h"
#include "io/full_io.h"

namespace oxtrel {

void ArchiveStateRelease::operator()(ArchiveState* state) const { delete state; }

std::string foldedPath(std::string_view path) {
  std::string key(path);
  for (char& c : key) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return key;
}

namespace {

// "<folder>/<name>" with every '\' read as a separator and empty components dropped, as the
// output tree places the file below `data`.
std::string entryPathOf(std::string_view folder, std::string_view name) {
  std::string joined(folder);
  joined.append("\\").append(name);
  std::string path;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = std::min(joined.find_first_of("\\/", start), joined.size());
    if (end > start) path.append(path.empty() ? "" : "/").append(joined, start, end - start);
    start = end + 1;
  }
  return path;
}

}  // namespace

Result<Archive> openArchive(const std::string& path) {
  Result<PositionalFile> file = openPositionalFile(path.c_str());
  if (!file) return std::move(file.error());
  Result<Catalogue> catalogue = loadCatalogue(*file);
  if (!catalogue) return std::move(catalogue.error());

  Archive archive{std::unique_ptr<ArchiveState, ArchiveStateRelease>(new ArchiveState)};
  ArchiveState& state = *archive.state;
  state.path = path;
  state.file = std::move(file.value());
  state.catalogue = std::move(catalogue.value());
  Result<NameIndex> index =
      readNameIndex(state.file, state.catalogue.nameBlockOffset, state.catalogue.header.totalNameLength,
                    state.catalogue.header.fileCount, requestedNameKeys(state.catalogue));
  if (!index) return std::move(index.error());
  state.index = std::move(index.value());
  const bool compressed = isCompressed(state.catalogue.header);
  for (const Folder& folder : state.catalogue.folders)
    for (const FileRecord& record : folder.files) {
      Entry entry;
      entry.folder = folder.name;
      entry.hash = record.hash;
      entry.offset = record.offset;
      entry.storedSize = record.size;
      entry.compressed = compressed;
      if (compressed) entry.unpackedSize = unpackedSize(state.file, record, true);
      if (std::optional<std::string_view> name = lookup(state.index, record.hash)) {
        entry.name = std::string(*name);
        entry.path = entryPathOf(folder.name, *name);
        state.byPath.insert_or_assign(foldedPath(entry.path), state.entries.size());
      }
      state.entries.push_back(std::move(entry));
    }
  return archive;
}

const std::string& archivePath(const Archive& archive) { return archive.state->path; }

std::span<const Entry> entries(const Archive& archive) { return archive.state->entries; }

const Entry* findEntry(const Archive& archive, std::string_view path) {
  auto found = archive.state->byPath.find(foldedPath(path));
  return found == archive.state->byPath.end() ? nullptr : &archive.state->entries[found->second];
}

Result<std::vector<uint8_t>> readEntry(const Archive& archive, const Entry& entry) {
  const ArchiveState& state = *archive.state;
  const std::string& where = entry.path.empty() ? entry.folder : entry.path;
  if (!fileHolds(state.file, entry.offset, entry.storedSize)) return Error{ErrorKind::truncated, 0, where};
  std::vector<uint8_t> payload(entry.storedSize);
  if (Status read = readAt(state.file, entry.offset, payload); !read) {
    read.error().where = where;
    return std::move(read.error());
  }
  if (!entry.compressed) return payload;
  PayloadDecoder decoder = makePayloadDecoder();
  Result<DecodedPayload> decoded = decodePayload(decoder, true, payload);
  if (!decoded) return Error{ErrorKind::unpackFailed, 0, where};
  return std::vector<uint8_t>(decoded->bytes.begin(), decoded->bytes.end());
}

Status streamEntry(const Archive& archive, const Entry& entry, int fd) {
  Result<std::vector<uint8_t>> bytes = readEntry(archive, entry);
  if (!bytes) return std::move(bytes.error());
  if (Status written = writeFully(fd, *bytes, std::nullopt); !written) {
    written.error().where = entry.path;
    return written;
  }
  return {};
}

}  // namespace oxtrel
