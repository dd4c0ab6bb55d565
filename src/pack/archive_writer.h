#pragma once

// Writes the archive for a catalogue plan: every payload, in table order, right after the
// tables, then the tables themselves, into a temporary that becomes the archive when complete.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/catalogue_plan.h"
#include "common/result.h"
#include "pack/payload_compression.h"
#include "parallel/job_batches.h"

namespace oxtrel {

// Offsets and sizes are 32-bit, so no byte of an archive may lie beyond this.
inline constexpr uint64_t kMaxArchiveSize = 0xFFFFFFFF;

// Compressing threads take consecutive files together, up to this many or this many bytes.
inline constexpr BatchLimits kPackBatch{.items = 32, .bytes = 256 * 1024};

struct PackOptions {
  bool compress = false;
  int level = kDefaultCompressionLevel;  // used when compress; kMin..kMaxCompressionLevel
  // Threads that read and compress files when compress; the archive is the same for every
  // count. Stored payloads are copied one file at a time whatever the count.
  unsigned jobs = 1;
  const std::atomic<int>* stop = nullptr;  // as PackSettings::stop
  // Called as each step of the write is done: "temporary" (it stands beside the archive),
  // "payload" (one more payload is written), "tables", "commit" (just before the rename) and
  // "committed". Lets tests end a run at any of them.
  std::function<void(std::string_view step)> onStep{};
};

struct PackReport {
  uint32_t fileCount = 0;
  uint32_t folderCount = 0;
  uint64_t bytesIn = 0;            // the packed files' sizes
  uint64_t bytesOut = 0;           // the archive's size
  std::vector<std::string> notes;  // what the user should know that did not stop the pack
  Status status;                   // why the pack stopped, when it did
};

// Refuses, before writing anything, what the scanned sizes already show to be too large; every
// file is then opened without following links and read as it is at that moment. A kept payload
// (PlannedFile::kept) is copied as its stored bytes, inside the system where it can, and never
// compressed: the caller keeps options.compress the same as the archive it comes from. On any failure
// (tooLarge, cannotOpen, cannotRead, cannotWrite) nothing is left at or beside archivePath, and a file that
// stood there is unchanged. A stored file whose bytes 4 and 5 are 78 9C gets a note: oxtrel
// extracts it unchanged but reports it as possibly packed, with exit status 1.
PackReport writeArchive(const CataloguePlan& plan, const PackOptions& options,
                        const std::string& archivePath);

}  // namespace oxtrel
