#pragma once

// Extracting an archive's entries into a directory tree, or testing them.
//
// Safe by default, as the command line: every entry goes below <destination>/data; a path with a
// ".." component, or one that would pass through a symbolic link, is refused; each file appears
// whole under its name or not at all (it is written under a temporary name and renamed).
//
// Memory: the catalogue, and per job a few MiB plus one entry of at most 16 MiB. A compressed
// entry larger than that (stored or inflated) is inflated piece by piece into its file, the
// check or the stream, so a fault in its payload is found while it is written: the directories
// its file needed may then be left (empty), and with a stream its bytes before the fault have
// been sent.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <oxtrel/archive.h>
#include <oxtrel/export.h>
#include <oxtrel/result.h>

namespace oxtrel {

struct ExtractSettings {
  // The directory that receives `data`; empty for the working one. When it is missing it is made,
  // with its parents, as mkdir -p would (not when testOnly or streaming); a symbolic link there is
  // followed, anything else there that is not a directory is refused.
  std::string destination{};
  int destinationFd = -1;              // else an open directory (the caller's), used instead of destination
  std::vector<std::string> patterns{}; // path globs, as matchEntries takes them; none selects every entry
  std::vector<std::string> excludes{}; // path globs that remove selected entries
  // When not empty: exactly these records (entryAt indices, any order, repeats ignored) instead of
  // a selection by patterns, which must then be empty. An index past entryCount is refused.
  std::vector<size_t> entries{};
  // Leave a regular file or a symbolic link that is already there alone (keptExisting). A FIFO,
  // socket or device there is left alone too but reported (cannotWrite, EEXIST); a directory is
  // the write's failure, as without keeping.
  bool keepExisting = false;
  unsigned jobs = 1;                  // threads that read, decode and write; 0 for one per available CPU
  bool testOnly = false;              // read, decode and check as extract would; write nothing
  // When set, the selected entries' contents go to this stream one after another, in table order,
  // on one thread, instead of into files: no path is checked and nothing is made on disk. The
  // stream is flushed after each entry, which counts as written only once its bytes have reached
  // the descriptor. The run stops at the first failed write or flush (ExtractReport::streamError).
  std::FILE* stream = nullptr;
  // When set, no entry begins once it holds a value other than 0 (a signal handler may store to
  // it); the entries under way are finished and reported, and the report says stopped.
  const std::atomic<int>* stop = nullptr;
};

enum class ExtractEventKind {
  entry,             // an entry is about to be handled
  unmatched,         // a record's hash names no file; it is skipped
  unsafePath,        // the entry's path would leave the destination; not written
  truncatedPayload,  // the payload runs past the end of the archive; not written
  unpackFailed,      // the payload cannot be inflated; not written
  possiblyPacked,    // a stored payload looks compressed; written unchanged
  cannotWrite,       // the file system refused; error holds errno
  keptExisting,      // keepExisting, and a file or a link was already there
};

// Valid only during the callback.
struct ExtractEvent {
  ExtractEventKind kind = ExtractEventKind::entry;
  std::string_view path;    // "data\<folder>\<name>" as the console shows it; for unmatched, empty
  std::string_view folder;  // for unmatched: the record's folder
  uint32_t position = 0;    // for unmatched: the record's place in its folder's table, from 0
  uint32_t offset = 0;
  uint32_t size = 0;        // stored size
  int error = 0;
};

struct ExtractProgress {
  uint64_t entriesDone = 0;
  uint64_t entriesTotal = 0;
  uint64_t bytesDone = 0;  // stored bytes of the entries done
  uint64_t bytesTotal = 0;
};

struct ExtractReport {
  uint64_t written = 0;   // written, checked when testOnly, or sent to the stream
  uint64_t kept = 0;      // left alone by keepExisting
  uint64_t problems = 0;  // events other than entry and keptExisting; each was reported
  std::vector<std::string> unusedPatterns;  // patterns that selected nothing (also problems)
  int streamError = 0;    // with a stream: errno of the write or flush that failed, which ended the run
  // The stop flag ended the run early: at least one selected entry was not begun. A flag raised
  // after the last entry began leaves it false, whatever jobs is.
  bool stopped = false;
  // Every selected entry was handled and nothing was reported.
  bool clean() const { return problems == 0 && unusedPatterns.empty() && streamError == 0 && !stopped; }
};

// Called on the calling thread, in table order, whatever jobs is.
using ExtractEventCallback = std::function<void(const ExtractEvent&)>;
// Called before each entry and once when all are done.
using ExtractProgressCallback = std::function<void(const ExtractProgress&)>;

// Extracts (or tests, or streams) the selected entries. Per-entry problems do not stop the run:
// they arrive as events and are counted in the report. Errors: cannotOpen (the destination
// directory cannot be made or opened; where names it, with errno: ENOTDIR when something else
// stands there), invalidArgument (jobs above 64, entries given with
// patterns or excludes, an entry index past entryCount). Either callback
// may be empty.
[[nodiscard]] OXTREL_API Result<ExtractReport> extract(const Archive& archive, const ExtractSettings& settings,
                                            const ExtractEventCallback& onEvent = {},
                                            const ExtractProgressCallback& onProgress = {});

}  // namespace oxtrel
