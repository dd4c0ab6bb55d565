#pragma once

// Changing an archive without starting over: files of a directory replace the entries at their
// paths or join them, entries selected by patterns are removed, and every other entry is kept.
//
// Kept entries are copied as their stored bytes: never inflated, never compressed again. The
// result is laid out as packDirectory lays out a fresh archive (folders, files, names and
// payloads in the same order), so packing the extracted tree of the result gives the same
// entries. The archive keeps its own compression: a compressed archive stays compressed (new
// files are compressed at level), a stored one stays stored.
//
// Atomicity: the result is written to a temporary beside its destination and takes the
// destination's name only when complete, with the replaced file's permission bits (as
// packDirectory keeps them). On any failure, a stop, a kill or a full disk, the archive (and a
// file at the destination) is unchanged; a temporary a killed run leaves is removed by the next
// run that writes in that directory.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <oxtrel/compression.h>
#include <oxtrel/export.h>
#include <oxtrel/pack.h>
#include <oxtrel/result.h>

namespace oxtrel {

struct UpdateSettings {
  // Every regular file below it replaces the entry at the same path or is added, as
  // packDirectory would store it: its directory's path below this one, components joined with
  // '\', is its folder; files directly in it go in the folder with the empty name. Empty: none.
  std::string directory{};
  // Entries that these patterns select (as matchEntries selects them) are removed. They select
  // among the archive's entries only: a file of directory at a removed path is still added. A
  // pattern that selects nothing fails the update as notFound.
  std::vector<std::string> remove{};
  // Where the result goes; empty, or a name of the archive itself (through a link too): the
  // archive is replaced. Otherwise the archive is only read.
  std::string destination{};
  // Entries the archive cannot give back (an unnamed record, a payload outside the file, a
  // compressed payload with no zlib stream where it starts) fail the update as brokenEntries,
  // each one noted first; with dropBroken they are noted and left out instead.
  bool dropBroken = false;
  int level = kDefaultCompressionLevel;  // for new files of a compressed archive; unused otherwise
  unsigned jobs = 1;                     // threads that compress new files; 0 for one per CPU
  // As PackSettings::stop: the update fails as stopped and leaves nothing behind.
  const std::atomic<int>* stop = nullptr;
};

struct UpdateSummary {
  uint32_t kept = 0;        // entries copied from the archive
  uint32_t added = 0;       // files of directory at paths the archive did not hold
  uint32_t replaced = 0;    // files of directory that took an entry's place
  uint32_t removed = 0;     // entries the remove patterns selected
  uint32_t dropped = 0;     // broken entries left out (dropBroken)
  uint32_t superseded = 0;  // records hidden by a later one at the same path, left out
  uint32_t fileCount = 0;   // entries of the result
  uint32_t folderCount = 0;
  uint64_t bytesIn = 0;     // the added and replacing files' sizes
  uint64_t bytesOut = 0;    // the result's size
};

// Updates the archive at archivePath. Several records at one path (the same folder spelled with
// '/' and '\', say): the last in table order is the one kept, the one an extraction leaves on
// disk; the others are noted and left out. Notes (skipped files of directory, broken entries,
// superseded records) come as packDirectory's do, before the call returns.
// Errors: those of openArchive for the archive; invalidArgument (level or jobs out of range, a
// path holding a NUL byte, a file that is also a folder of other entries); notFound (a remove
// pattern selects nothing); brokenEntries; and packDirectory's: cannotRead, cannotOpen,
// cannotWrite, unstorableName, folderNameTooLong, nameCollision, tooLarge, stopped. Whatever
// the error, nothing was written.
[[nodiscard]] OXTREL_API Result<UpdateSummary> updateArchive(const std::string& archivePath,
                                                             const UpdateSettings& settings,
                                                             const PackNoteCallback& onNote = {});

}  // namespace oxtrel
