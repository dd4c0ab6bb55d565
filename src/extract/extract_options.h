#pragma once

// What one run of the extractor is asked to do: the command line's options as a plain record.

#include <string>
#include <vector>

namespace oxtrel {

enum class RunMode {
  extract,   // write the selected entries below DIR/data
  test,      // read, decode and check the selected entries as extract would; write nothing
  list,      // one line per selected entry and a totals line; read only the catalogue
  json,      // as list, one JSON object per selected record
  toStdout,  // the selected entries' contents, concatenated on standard output; nothing on disk
};

struct ExtractOptions {
  std::string directory;              // holds `data`; empty for the working directory
  std::vector<std::string> includes;  // path patterns; an entry is selected when any matches
  std::vector<std::string> excludes;  // path patterns that remove selected entries
  RunMode mode = RunMode::extract;
  bool keepExisting = false;          // an existing file is left alone ("Kept existing")
  bool quiet = false;                 // no entry lines
  bool progress = false;              // a self-rewriting progress line on standard error
  unsigned jobs = 1;                  // threads that extract or test; list and toStdout use one
};

}  // namespace oxtrel
