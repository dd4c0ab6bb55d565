#pragma once

// The extraction walk on several threads, with a sequential walk's result: the same events in
// the same order, the same tree, the same summary.
//
// Each thread walks whole records with its own inflater, read window and output tree; the events
// of each record are kept until every record before it is done, then handed to the sink on the
// calling thread. Records that meet on the file system (see write_order.h) wait for one another;
// all others run in any order. Memory: per thread one payload and one inflated file at a time
// (up to the streaming threshold; larger ones pass in pieces), plus the events of a bounded
// number of finished records.

#include <atomic>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "extract/entry_selection.h"
#include "extract/extraction_events.h"
#include "extract/extraction_walk.h"
#include "io/positional_file.h"

namespace oxtrel {

// As extractAll (extract and test modes) with a tree below parent, on `jobs` threads. An
// exception thrown while a record is handled (std::bad_alloc) comes out here after the events of
// every record before it, and those the failing one reported, have reached the sink; no later
// record's have. A stop (WalkSettings::stop) keeps new records from starting; those started
// are finished and reported.
ExtractionSummary extractInParallel(const Catalogue& catalogue, const NameIndex& index, const PositionalFile& archive,
                                    platform::NativeHandle parent, const EntrySelection& selection, const WalkSettings& settings,
                                    const EventSink& sink, unsigned jobs);

}  // namespace oxtrel
