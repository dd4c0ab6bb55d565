#pragma once

// The archive as an open read-only descriptor plus its size. Every read names its absolute
// 64-bit position (pread), so offsets up to 4 GiB - 1 work and no shared file position exists.

#include <cstddef>
#include <cstdint>

namespace oxtrel {

struct ArchiveFile {
  int fd = -1;
  uint64_t size = 0;
};

struct OpenArchiveResult {
  ArchiveFile file;
  int error = 0;  // errno when the open failed; 0 on success
};

// Opens path for reading. Anything that is not a readable regular file (a directory, a device,
// a missing path) fails, with its errno (EISDIR / EINVAL for the wrong kind of file).
OpenArchiveResult openArchive(const char* path);

// Wraps an already open descriptor (a memory file, say); fails unless it is a regular file.
OpenArchiveResult archiveFromDescriptor(int fd);

void closeArchive(ArchiveFile& file);

// True when [offset, offset + length) lies wholly inside the archive.
inline bool archiveHolds(const ArchiveFile& file, uint64_t offset, uint64_t length) {
  return offset <= file.size && length <= file.size - offset;
}

// Reads exactly length bytes at offset into dst, retrying short reads and EINTR.
// False when the file ends first or the read fails.
bool readAt(const ArchiveFile& file, uint64_t offset, uint8_t* dst, size_t length);

}  // namespace oxtrel
