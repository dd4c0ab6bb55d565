#pragma once

// Visits every file record of every folder in table order: finds its name, prints its line,
// reads its payload, decodes it and writes it below `data`.

#include <cstdint>
#include <cstdio>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/output_tree.h"
#include "io/positional_file.h"

namespace oxtrel {

struct ExtractionSummary {
  uint64_t problems = 0;  // Warning and Error lines printed
};

// Lines, all on console, per record:
//   "Warning!!! File %d in dir %s no found\n"   the hash names no file; nothing else happens
//   "%8x %8x %s\n"                              offset, size, output path "data\<folder>\<name>"
// then at most one of, checked in this order:
//   "Error: unsafe path at %8x %s\n"            a ".." component, or a symbolic link below data
//   "Error: truncated payload at %8x %s\n"      the payload runs past the end of the archive
//   "Error unpack at %8x %s\n"                  the compressed payload cannot be inflated
//   "Error: cannot write %s: %s\n"              the file system refused, with its reason
// and "Error: possibly packed at %8x %s\n" before writing a stored payload that looks compressed.
ExtractionSummary extractAll(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                             OutputTree& tree, FILE* console);

}  // namespace oxtrel
