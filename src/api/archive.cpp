#include <oxtrel/archive.h>

#include <algorithm>

#include "api/archive_state.h"
#include "api/path_argument.h"
#include "catalogue/entry_path.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"
#include "extract/entry_selection.h"
#include "extract/path_pattern.h"
#include "extract/payload_decoder.h"
#include "io/full_io.h"

namespace oxtrel {

void ArchiveStateRelease::operator()(ArchiveState* state) const { delete state; }

std::string foldedPath(std::string_view path) {
  std::string key;
  key.reserve(path.size());
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && (key.empty() || key.back() == '/')) continue;
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    key.push_back(c);
  }
  if (!key.empty() && key.back() == '/') key.pop_back();
  return key;
}

namespace {

// The unpacked size a compressed payload's prefix announces; nullopt when the payload is too
// short to hold one or cannot be read. The payload lies inside the archive.
std::optional<uint32_t> announcedSize(const PositionalFile& archive, const FileRecord& record) {
  uint8_t prefix[kUnpackedSizeBytes];
  if (record.size < sizeof prefix || !readAt(archive, record.offset, prefix)) return std::nullopt;
  return loadLe32(prefix);
}

Entry describe(const ArchiveState& state, const Folder& folder, size_t position) {
  const FileRecord& record = folder.files[position];
  const bool compressed = isCompressed(state.catalogue.header);
  Entry entry;
  entry.folder = folder.name;
  entry.indexInFolder = uint32_t(position);
  entry.hash = record.hash;
  entry.offset = record.offset;
  entry.storedSize = record.size;
  entry.compressed = compressed;
  entry.payloadInArchive = fileHolds(state.file, record.offset, record.size);
  if (compressed && entry.payloadInArchive) entry.unpackedSize = announcedSize(state.file, record);
  if (std::optional<std::string_view> name = lookup(state.index, record.hash)) {
    entry.name = std::string(*name);
    entry.path = patternPath(folder.name, *name);
  }
  return entry;
}

void makeEntries(ArchiveState& state) {
  state.entries.reserve(state.folderStarts.back());
  for (const Folder& folder : state.catalogue.folders)
    for (size_t j = 0; j < folder.files.size(); ++j) {
      Entry entry = describe(state, folder, j);
      if (entry.name) state.byPath.insert_or_assign(foldedPath(entry.path), state.entries.size());
      state.entries.push_back(std::move(entry));
    }
}

const ArchiveState& withEntries(const Archive& archive) {
  ArchiveState& state = *archive.state;
  std::call_once(state.entriesMade, [&state] { makeEntries(state); });
  return state;
}

}  // namespace

Result<Archive> openArchive(const std::string& path) {
  if (Status usable = checkPathArgument(path, "archive path"); !usable) return std::move(usable.error());
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
  state.folderStarts.reserve(state.catalogue.folders.size() + 1);
  state.folderStarts.push_back(0);
  for (const Folder& folder : state.catalogue.folders)
    state.folderStarts.push_back(state.folderStarts.back() + folder.files.size());
  return archive;
}

Error movedFrom() { return Error{ErrorKind::invalidArgument, 0, "an archive that was moved from"}; }

const std::string& archivePath(const Archive& archive) {
  static const std::string none;
  return archive.state ? archive.state->path : none;
}

std::span<const Entry> entries(const Archive& archive) {
  if (!archive.state) return {};
  return withEntries(archive).entries;
}

size_t entryCount(const Archive& archive) { return archive.state ? archive.state->folderStarts.back() : 0; }

Entry entryAt(const Archive& archive, size_t index) {
  if (!archive.state || index >= entryCount(archive)) return {};
  const ArchiveState& state = *archive.state;
  // The folder holding record `index` is the last one starting at or before it.
  auto next = std::upper_bound(state.folderStarts.begin(), state.folderStarts.end(), index);
  size_t folder = size_t(next - state.folderStarts.begin()) - 1;
  return describe(state, state.catalogue.folders[folder], index - state.folderStarts[folder]);
}

const Entry* findEntry(const Archive& archive, std::string_view path) {
  if (!archive.state) return nullptr;
  const ArchiveState& state = withEntries(archive);
  auto found = state.byPath.find(foldedPath(path));
  return found == state.byPath.end() ? nullptr : &state.entries[found->second];
}

EntryMatches matchEntries(const Archive& archive, const std::vector<std::string>& patterns,
                          const std::vector<std::string>& excludes) {
  if (!archive.state) return {{}, patterns};
  const ArchiveState& state = *archive.state;
  EntrySelection selection = selectEntries(state.catalogue, state.index, patterns, excludes);
  EntryMatches matches;
  for (size_t i = 0; i < state.folderStarts.back(); ++i)
    if (isSelected(selection, i)) matches.indices.push_back(i);
  for (size_t i = 0; i < patterns.size(); ++i)
    if (!selection.includeUsed[i]) matches.unusedPatterns.push_back(patterns[i]);
  return matches;
}

std::string consolePath(const Entry& entry) {
  std::string path;
  if (entry.name) composeEntryPath(path, entry.folder, *entry.name);
  return path;
}

Result<std::vector<uint8_t>> readEntry(const Archive& archive, const Entry& entry) {
  if (!archive.state) return movedFrom();
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
  if (Status written = writeFully(platform::NativeHandle(fd), *bytes, std::nullopt); !written) {
    written.error().where = entry.path;
    return written;
  }
  return {};
}

}  // namespace oxtrel
