#pragma once

// Runs the extractor on untrusted archive bytes inside a scratch directory laid out to catch
// escapes, and checks the rules every run must keep whatever the archive holds. Shared by the
// hostile-input tests and the whole-run fuzzer.

#include <string>
#include <vector>

#include "archive_builder.h"
#include "scratch.h"

namespace oxtrel::testing {

// The name the archive goes by in messages, and on disk for runs of the binary.
inline constexpr char kSiteArchiveName[] = "a.vrk";

// root/outside/keep.txt beside root/run, the directory that receives `data`. With planted links,
// run/data already holds links to outside ("up" to the directory, "keep.txt" to the file) that no
// write may pass through.
// Thousands of runs make and remove their sites, so a memory file system serves when there is one.
std::string fastScratchArea();

struct RunSite {
  ScratchDir root{fastScratchArea()};
  bool archiveOnDisk = false;  // run/a.vrk holds the archive
  bool plantedLinks = false;
  std::string runDir() const { return root / "run"; }
};

void prepareSite(RunSite& site, const Bytes& archive, bool archiveOnDisk, bool plantLinks);

struct RunOutcome {
  int status = -1;
  std::string console;
};

// A default run (extract everything) on the archive read from memory, into the site's run directory,
// on jobs threads (0: as many as the program uses by default).
RunOutcome extractInProcess(const RunSite& site, const Bytes& archive, unsigned jobs = 0);

// Every rule the run broke; empty when it kept them all:
// - nothing outside run/data changed, and no link there was written through;
// - the console is exactly the program's own lines for this archive's catalogue, record by
//   record, and the status is 1 when a Warning or Error line was printed, else 0;
// - every file below data is complete: it holds the bytes of the last entry written to its path,
//   and nothing else is there (no temporary, no partial file).
std::vector<std::string> checkRun(const RunSite& site, const Bytes& archive, const RunOutcome& outcome);

}  // namespace oxtrel::testing
