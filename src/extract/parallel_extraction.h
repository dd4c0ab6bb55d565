#pragma once

// The extraction walk on several threads, with a sequential run's result: the same console lines
// in the same order, the same tree, the same problem count.
//
// Each thread extracts whole records with its own inflater, read window and output tree; each
// record's lines are kept until every record before it is done, then printed on the calling
// thread. Records that meet on the file system (see write_order.h) wait for one another; all
// others run in any order. Memory: per thread one payload and one inflated file at a time, plus
// the lines of a bounded number of finished records.

#include <atomic>
#include <cstdio>

#include "catalogue/archive_file.h"
#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/extraction_walk.h"

namespace oxtrel {

// As extractAll with a tree below parentFd, on `jobs` threads (1: extractAll itself). An
// exception thrown while a record is handled (std::bad_alloc) comes out here after the lines of
// every record before it have been printed; none after it are. Setting *cancel stops new records
// from starting; those started are finished and their lines printed.
ExtractionSummary extractAllInParallel(const Catalogue& catalogue, const NameIndex& index, const ArchiveFile& archive,
                                       int parentFd, FILE* console, unsigned jobs,
                                       const std::atomic<bool>* cancel = nullptr);

}  // namespace oxtrel
