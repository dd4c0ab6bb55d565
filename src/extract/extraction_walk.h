#pragma once

// Visits every file record of every folder in table order: finds its name, prints its line,
// reads its payload, decodes it and writes it below `data`.

#include <cstdint>
#include <cstdio>

#include "catalogue/archive_file.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/output_tree.h"

namespace oxtrel {

struct ExtractionSummary {
  uint64_t written = 0;
  uint64_t problems = 0;  // Warning and Error lines printed
  int stoppedBy = 0;      // the stop signal that ended the walk early, or 0
};

// Lines, all on console, per record:
//   "Warning!!! File %d in dir %s no found\n"   the hash names no file; nothing else happens
//   "%8x %8x %s\n"                              offset, size, output path "data\<folder>\<name>"
// then at most one of, checked in this order:
//   "Error: unsafe path at %8x %s\n"            a ".." component, or a symbolic link below data
//   "Error: cannot write %s: File name too long\n"  the output path reaches PATH_MAX; nothing is made
//   "Error: truncated payload at %8x %s\n"      the payload runs past the end of the archive
//   "Error unpack at %8x %s\n"                  the compressed payload cannot be inflated
//   "Error: cannot write %s: %s\n"              the file system refused, with its reason
// and "Error: possibly packed at %8x %s\n" before writing a stored payload that looks compressed.
// A stop signal (see stop_signals.h) ends the walk between two entries.
ExtractionSummary extractAll(const Catalogue& catalogue, const NameIndex& index,
                             const ArchiveFile& archive, OutputTree& tree, FILE* console);

}  // namespace oxtrel
