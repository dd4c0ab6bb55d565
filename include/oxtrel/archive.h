#pragma once

// Reading an archive: open it, list its entries, find one by path, read or stream its contents.
//
// Ownership: an Archive owns its open file and the catalogue read from it; it is move-only and
// closes the file when it goes. Every reference or span taken from an Archive stays valid as long
// as the Archive does and is not moved from. An Entry is a value made on demand: the archive keeps
// no list of entries and no path of any, so its memory follows the tables' size in the file.
// An Archive that was moved from holds nothing: it has no entries and no path, finds and matches
// nothing, and readEntry, streamEntry and extract fail with invalidArgument.
//
// Thread safety: an Archive does not change after openArchive. Any number of threads may call
// entries, entryAt, findEntry, matchEntries, readEntry, streamEntry and extract on one Archive at
// the same time: every read names its own file offset and every call keeps its own decoder.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <oxtrel/export.h>
#include <oxtrel/result.h>

namespace oxtrel {

struct ArchiveState;
struct OXTREL_API ArchiveStateRelease {
  void operator()(ArchiveState* state) const;
};

struct Archive {
  std::unique_ptr<ArchiveState, ArchiveStateRelease> state;  // null only after a move
};

// One file record, in table order (folder by folder, records as stored).
struct Entry {
  std::string folder;               // the folder's name as stored, '\' separators kept
  std::optional<std::string> name;  // none when the record's hash names no file in the archive
  // "<folder>/<name>" with every '\' written '/' ("<name>" in the folder with the empty name):
  // the text patterns match. Empty when unnamed.
  std::string path;
  uint32_t indexInFolder = 0;       // the record's place in its folder's table, from 0
  size_t index = 0;                 // the record's place in table order: entryAt(archive, index)
  std::array<uint8_t, 8> hash{};    // the record's name hash
  uint32_t offset = 0;              // where the payload starts in the archive
  uint32_t storedSize = 0;          // the payload's byte count in the archive
  // Compressed archives: the size the payload's prefix announces; none in a stored archive or
  // when the payload does not lie wholly inside the archive.
  std::optional<uint32_t> unpackedSize;
  bool compressed = false;          // the payload is a size prefix and a zlib stream
  bool payloadInArchive = false;    // the payload lies wholly inside the archive file

  friend bool operator==(const Entry&, const Entry&) = default;
};

// Opens the archive at path and reads its tables. Errors: cannotOpen (missing, unreadable, not a
// regular file; where is path), notAnArchive (the file's first bytes identify it as a tar, zip,
// gzip or 7z file; where is what it looks like: "tar archive", "zip archive", "gzip file", "7z
// archive"), truncated (the file ends inside the tables; where is "catalogue"), cannotRead (a
// read failed).
[[nodiscard]] OXTREL_API Result<Archive> openArchive(const std::string& path);

// Opens an archive held in memory, with openArchive's checks and errors; name stands for the
// path (archivePath returns it, errors name it). The bytes are copied into a file that no name
// reaches (in memory where the system offers one, else in the temporary directory) and that goes
// with the Archive: the caller's buffer may change or go as soon as this returns, and the archive
// holds one copy of it. cannotOpen (with errno) when that file cannot be made or filled.
[[nodiscard]] OXTREL_API Result<Archive> openArchiveFromMemory(std::span<const uint8_t> bytes, std::string name);

// Opens the archive that the open descriptor fd reads (a POSIX descriptor, or the C runtime's on
// Windows), with openArchive's checks and errors; name stands for the path. The archive reads
// through a duplicate of its own: fd stays the caller's, to close when it likes, and its file
// position is not moved. The file must be a regular file open for reading; its size is taken
// now. cannotOpen (EBADF) when fd is not open.
[[nodiscard]] OXTREL_API Result<Archive> openArchiveFromDescriptor(int fd, std::string name);

// The path the archive was opened by, or the name given for it.
OXTREL_API const std::string& archivePath(const Archive& archive);

// The number of records, and record `index` (below entryCount; past it an empty Entry) made on
// demand and not kept.
OXTREL_API size_t entryCount(const Archive& archive);
OXTREL_API Entry entryAt(const Archive& archive, size_t index);

// Every record in table order, unnamed ones too, as a range whose entries are made one at a time
// when asked for (by entryAt): `for (const Entry& e : entries(archive))`, size(), [i].
struct EntryList {
  const Archive* archive = nullptr;

  struct iterator {
    const Archive* archive = nullptr;
    size_t index = 0;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    Entry operator*() const { return entryAt(*archive, index); }
    iterator& operator++() { ++index; return *this; }
    iterator operator++(int) { iterator was = *this; ++index; return was; }
    friend bool operator==(const iterator& a, const iterator& b) { return a.index == b.index; }
  };

  size_t size() const { return entryCount(*archive); }
  bool empty() const { return size() == 0; }
  Entry operator[](size_t index) const { return entryAt(*archive, index); }
  Entry front() const { return entryAt(*archive, 0); }
  Entry back() const { return entryAt(*archive, size() - 1); }
  iterator begin() const { return {archive, 0}; }
  iterator end() const { return {archive, size()}; }
};
inline EntryList entries(const Archive& archive) { return {&archive}; }

// The named entry whose path is path as the file system would take it: '/' and '\' alike, empty
// and "." components absent, a leading "data/" not part of it. When several records share that
// path the last in table order is found: the one whose contents an extraction leaves on disk.
// Names are compared byte for byte first, as a case-sensitive file system keeps "b" and "B"
// apart; only when no entry has exactly that path is ASCII case ignored. None when nothing
// matches. A lookup reads the tables through once and holds no more than one path.
OXTREL_API std::optional<Entry> findEntry(const Archive& archive, std::string_view path);

// The entries that path globs select, as extract selects them. A pattern matches an entry's
// path: '*' and '?' stay within one level, '**' crosses levels, [...] is a class, '\' escapes,
// ASCII letters match either case. With no patterns every record is selected, unnamed ones too
// (excludes apply to named ones); with patterns, unnamed records never are.
struct EntryMatches {
  std::vector<size_t> indices;              // for entryAt, in table order
  std::vector<std::string> unusedPatterns;  // patterns that selected nothing an exclude left
};
OXTREL_API EntryMatches matchEntries(const Archive& archive, const std::vector<std::string>& patterns,
                          const std::vector<std::string>& excludes);

// "data\<folder>\<name>", the bytes as stored: how extract's events name an entry. Empty when
// the entry is unnamed.
OXTREL_API std::string consolePath(const Entry& entry);

// The entry's contents, decoded and verified (a compressed payload's checksum is checked). entry
// must describe a record of this archive (entryAt, entries() or findEntry). Errors (where is the entry's path): truncated (the
// payload runs past the end of the archive), unpackFailed (it cannot be inflated), cannotRead.
// A stored payload that merely looks compressed is returned unchanged.
[[nodiscard]] OXTREL_API Result<std::vector<uint8_t>> readEntry(const Archive& archive, const Entry& entry);

// Writes the entry's contents to fd at its file position; the descriptor stays the caller's.
// Errors as readEntry, and cannotWrite (with errno) when writing fails; bytes written before a
// failure stay written.
[[nodiscard]] OXTREL_API Status streamEntry(const Archive& archive, const Entry& entry, int fd);

}  // namespace oxtrel
