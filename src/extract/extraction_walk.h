#pragma once

// Visits every selected file record of every folder in table order: finds its name, reports it,
// reads its payload, decodes it and writes it below `data` (or checks it, or sends it to a
// stream, as the mode asks).

#include <cstdint>
#include <atomic>
#include <cstdio>
#include <memory>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/entry_selection.h"
#include "extract/extraction_events.h"
#include "extract/output_tree.h"
#include "io/positional_file.h"

namespace oxtrel {

enum class RunMode {
  extract,   // write the selected entries below `data`
  test,      // read, decode and check them as extract would; write nothing
  toStdout,  // send their contents, one after another, to a stream; nothing on disk
};

struct ExtractionSummary {
  uint64_t written = 0;   // written, or checked in test mode, or sent to the stream and flushed
  uint64_t kept = 0;      // left alone because the file existed (keepExisting)
  uint64_t problems = 0;  // unmatched, unsafePath, truncatedPayload, unpackFailed, possiblyPacked, cannotWrite
  int streamError = 0;    // errno of the failed write to contents; the walk stopped there
  int stoppedBy = 0;      // the stop value seen before a selected record, which was not begun; or 0
};

struct WalkSettings {
  RunMode mode = RunMode::extract;  // extract, test or toStdout
  bool keepExisting = false;
  FILE* contents = nullptr;         // toStdout: receives the entries' bytes
  // No entry begins once this holds a value other than 0 (a signal handler may store to it).
  const std::atomic<int>* stop = nullptr;
};

inline int stopValue(const WalkSettings& settings) {
  return settings.stop ? settings.stop->load(std::memory_order_relaxed) : 0;
}

// What one thread needs to walk records one after another: its inflater, read window and
// buffers, and the tree it writes through; its events go to sink.
struct RecordWalker;
struct RecordWalkerDeleter {
  void operator()(RecordWalker* walker) const;
};
using RecordWalkerPtr = std::unique_ptr<RecordWalker, RecordWalkerDeleter>;

// archive, tree, settings and sink must outlive the walker.
RecordWalkerPtr makeRecordWalker(const PositionalFile& archive, OutputTree& tree, bool compressed,
                                 const WalkSettings& settings, const EventSink& sink);

// Handles record `record` of the catalogue (counted over all folders), which folder `folder`
// holds, with the events listed below.
void walkRecord(RecordWalker& walker, const Catalogue& catalogue, size_t folder, size_t record,
                const NameIndex& index);

// Everything the walker has handled so far.
const ExtractionSummary& walkSummary(const RecordWalker& walker);

// Events per selected record:
//   unmatched                          the hash names no file; nothing else happens
//   entry                              offset, size, output path "data\<folder>\<name>"
// then at most one of, checked in this order:
//   unsafePath                         a ".." component, a name the system would misread (a device
//                                      or a data stream on Windows), or a link below data
//   cannotWrite (ENAMETOOLONG)         the output path reaches platform::kLongestPath; nothing is made
//   keptExisting                       keepExisting and a file or a link is already there
//   cannotWrite (EEXIST)               keepExisting and a FIFO, socket or device is there
//   truncatedPayload                   the payload runs past the end of the archive
//   unpackFailed                       the compressed payload cannot be inflated
//   cannotWrite                        the file system refused, with its reason
// and possiblyPacked before writing a stored payload that looks compressed. Test mode makes the
// same checks (the unsafe one against what is on disk) and writes nothing; toStdout makes no
// path checks and writes the bytes to contents. A stop (settings.stop) ends the walk between two
// entries. A compressed payload above streamingThreshold (payload_stream.h), stored or announced,
// is inflated piece by piece with the same events; its fault is found while its file is written,
// after the directories it needs were made (an earlier cannotWrite still gives way to it), and
// in toStdout after the bytes before it were sent.
ExtractionSummary extractAll(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                             OutputTree& tree, const EntrySelection& selection, const WalkSettings& settings,
                             const EventSink& sink);

}  // namespace oxtrel
