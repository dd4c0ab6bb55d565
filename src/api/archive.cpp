#include <oxtrel/archive.h>

#include <algorithm>
#include <array>

#include "api/archive_state.h"
#include "api/path_argument.h"
#include "catalogue/entry_path.h"
#include "catalogue/foreign_format.h"
#include "catalogue/little_endian.h"
#include "catalogue/payload_format.h"
#include "extract/entry_selection.h"
#include "extract/path_pattern.h"
#include "extract/payload_decoder.h"
#include "io/full_io.h"

namespace oxtrel {

void ArchiveStateRelease::operator()(ArchiveState* state) const { delete state; }

namespace {

// The unpacked size a compressed payload's prefix announces; nullopt when the payload is too
// short to hold one or cannot be read. The payload lies inside the archive.
std::optional<uint32_t> announcedSize(const PositionalFile& archive, const FileRecord& record) {
  uint8_t prefix[kUnpackedSizeBytes];
  if (record.size < sizeof prefix || !readAt(archive, record.offset, prefix)) return std::nullopt;
  return loadLe32(prefix);
}

Entry describe(const ArchiveState& state, size_t folder, size_t record) {
  const FileRecord& file = state.catalogue.files[record];
  const bool compressed = isCompressed(state.catalogue.header);
  Entry entry;
  entry.folder = folderName(state.catalogue, folder);
  entry.indexInFolder = uint32_t(record - state.catalogue.fileStarts[folder]);
  entry.index = record;
  entry.hash = file.hash;
  entry.offset = file.offset;
  entry.storedSize = file.size;
  entry.compressed = compressed;
  entry.payloadInArchive = fileHolds(state.file, file.offset, file.size);
  if (compressed && entry.payloadInArchive) entry.unpackedSize = announcedSize(state.file, file);
  if (std::optional<std::string_view> name = lookup(state.index, file.hash)) {
    entry.name = std::string(*name);
    entry.path = patternPath(entry.folder, *name);
  }
  return entry;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Calls f on every component of text that names something on disk: empty and "." ones are skipped.
template <typename F>
void eachNamingComponent(std::string_view text, F f) {
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !isSeparator(text[i])) continue;
    std::string_view component = text.substr(start, i - start);
    if (!component.empty() && component != ".") f(component);
    start = i + 1;
  }
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

// How text's components compare with want, one for one: byte for byte, and ignoring ASCII case.
struct ComponentMatch {
  bool exact = true;
  bool folded = true;
  size_t count = 0;  // components of text seen; a match needs exactly want.size()
};

ComponentMatch matchComponents(std::string_view text, std::span<const std::string_view> want) {
  ComponentMatch match;
  eachNamingComponent(text, [&](std::string_view component) {
    if (match.count < want.size() && match.folded) {
      match.exact = match.exact && component == want[match.count];
      match.folded = equalIgnoringCase(component, want[match.count]);
    }
    ++match.count;
  });
  if (match.count > want.size()) match.exact = match.folded = false;
  return match;
}

// A record writes a file only when its name's last component is a file name.
bool namesAFile(std::string_view name) {
  size_t last = name.find_last_of("/\\");
  std::string_view fileName = last == std::string_view::npos ? name : name.substr(last + 1);
  return !fileName.empty() && fileName != ".";
}

}  // namespace

namespace {

// The checks every way of opening runs: the identification bytes, then the tables.
Result<Archive> openFrom(PositionalFile file, std::string name) {
  std::array<uint8_t, kForeignProbeBytes> head{};
  std::span<uint8_t> probe = std::span(head).first(size_t(std::min<uint64_t>(file.size, head.size())));
  if (Status read = readAt(file, 0, probe); !read) {
    read.error().where = "catalogue";
    return std::move(read.error());
  }
  if (std::optional<std::string_view> format = foreignFormat(probe))
    return Error{ErrorKind::notAnArchive, 0, std::string(*format)};
  Result<Catalogue> catalogue = loadCatalogue(file);
  if (!catalogue) return std::move(catalogue.error());

  Archive archive{std::unique_ptr<ArchiveState, ArchiveStateRelease>(new ArchiveState)};
  ArchiveState& state = *archive.state;
  state.path = std::move(name);
  state.file = std::move(file);
  state.catalogue = std::move(catalogue.value());
  Result<NameIndex> index =
      readNameIndex(state.file, state.catalogue.nameBlockOffset, state.catalogue.header.totalNameLength,
                    state.catalogue.header.fileCount, requestedNameKeys(state.catalogue));
  if (!index) return std::move(index.error());
  state.index = std::move(index.value());
  return archive;
}

Error cannotOpen(platform::SystemError error, std::string name) {
  return Error{ErrorKind::cannotOpen, error, std::move(name)};
}

}  // namespace

Result<Archive> openArchive(const std::string& path) {
  if (Status usable = checkPathArgument(path, "archive path"); !usable) return std::move(usable.error());
  Result<PositionalFile> file = openPositionalFile(path.c_str());
  if (!file) return std::move(file.error());
  return openFrom(std::move(file.value()), path);
}

Result<Archive> openArchiveFromMemory(std::span<const uint8_t> bytes, std::string name) {
  platform::File file;
  if (platform::SystemError error = platform::createAnonymousFile(file); error != 0)
    return cannotOpen(error, std::move(name));
  if (platform::SystemError error = platform::writeFully(file.get(), bytes, 0); error != 0)
    return cannotOpen(error, std::move(name));
  Result<PositionalFile> opened = positionalFileFrom(std::move(file));
  if (!opened) return cannotOpen(opened.error().systemError, std::move(name));
  return openFrom(std::move(opened.value()), std::move(name));
}

Result<Archive> openArchiveFromDescriptor(int fd, std::string name) {
  platform::File file;
  if (platform::SystemError error = platform::duplicateDescriptor(fd, file); error != 0)
    return cannotOpen(error, std::move(name));
  Result<PositionalFile> opened = positionalFileFrom(std::move(file));
  if (!opened) return cannotOpen(opened.error().systemError, std::move(name));
  return openFrom(std::move(opened.value()), std::move(name));
}

Error movedFrom() { return Error{ErrorKind::invalidArgument, 0, "an archive that was moved from"}; }

const std::string& archivePath(const Archive& archive) {
  static const std::string none;
  return archive.state ? archive.state->path : none;
}

size_t entryCount(const Archive& archive) { return archive.state ? archive.state->catalogue.files.size() : 0; }

Entry entryAt(const Archive& archive, size_t index) {
  if (!archive.state || index >= entryCount(archive)) return {};
  const ArchiveState& state = *archive.state;
  return describe(state, folderOfRecord(state.catalogue, index), index);
}

std::optional<Entry> findEntry(const Archive& archive, std::string_view path) {
  if (!archive.state) return std::nullopt;
  const ArchiveState& state = *archive.state;
  const Catalogue& catalogue = state.catalogue;
  std::vector<std::string_view> want;
  eachNamingComponent(path, [&](std::string_view component) { want.push_back(component); });
  if (want.empty()) return std::nullopt;

  constexpr size_t kNone = SIZE_MAX;
  size_t lastExact = kNone;
  size_t lastFolded = kNone;
  for (size_t folder = 0; folder < folderCount(catalogue); ++folder) {
    if (catalogue.fileStarts[folder] == catalogue.fileStarts[folder + 1]) continue;
    ComponentMatch inFolder = matchComponents(folderName(catalogue, folder), want);
    if (!inFolder.folded || inFolder.count >= want.size()) continue;
    std::span<const std::string_view> rest = std::span(want).subspan(inFolder.count);
    // Records of one folder often share a name: its comparison is made once.
    std::string_view compared;
    ComponentMatch named{false, false, 0};
    for (size_t record = catalogue.fileStarts[folder]; record < catalogue.fileStarts[folder + 1]; ++record) {
      std::optional<std::string_view> name = lookup(state.index, catalogue.files[record].hash);
      if (!name) continue;
      if (name->data() != compared.data() || name->size() != compared.size()) {
        compared = *name;
        named = matchComponents(*name, rest);
        if (named.count != rest.size() || !namesAFile(*name)) named.exact = named.folded = false;
      }
      if (named.folded) lastFolded = record;
      if (named.exact && inFolder.exact) lastExact = record;
    }
  }
  size_t found = lastExact != kNone ? lastExact : lastFolded;
  if (found == kNone) return std::nullopt;
  return entryAt(archive, found);
}

EntryMatches matchEntries(const Archive& archive, const std::vector<std::string>& patterns,
                          const std::vector<std::string>& excludes) {
  if (!archive.state) return {{}, patterns};
  const ArchiveState& state = *archive.state;
  EntrySelection selection = selectEntries(state.catalogue, state.index, patterns, excludes);
  EntryMatches matches;
  for (size_t i = 0; i < state.catalogue.files.size(); ++i)
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
