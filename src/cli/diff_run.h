#pragma once

// `oxtrel --diff OLD NEW`: what changed between two archives, one line per path, on the library's
// diffArchives.
//
//   "A %s\n" / "D %s\n" / "M %s\n"    added, removed (deleted), modified; the path with '/'
//                                     separators, control bytes written \xNN; sorted by path in
//                                     byte order
// With json, one object per change instead and nothing else: {"change":"A","path":"..."}, with
// "path_hex" (the bytes in hex) when the path is not valid UTF-8.
// Every other line goes to `lines` (standard error): the open failures the other modes print,
// "Error: <reason>" for an entry that cannot be compared, "Error: no entry matches <pattern>",
// and "Warning: <n> records of <archive> have no name; left out of the comparison".

#include <cstdio>
#include <string>
#include <vector>

namespace oxtrel {

struct DiffOptions {
  std::vector<std::string> patterns;  // narrow the comparison to the paths they select
  std::vector<std::string> excludes;
  bool json = false;
};

// Exit status: kExitOk when both archives hold the same files (the unnamed records' warning does
// not change that), kExitProblem when anything changed, an archive cannot be opened, an entry
// cannot be compared, a pattern selected nothing, or a write to changes failed (the comparison
// then stops).
int runDiff(const std::string& olderPath, const std::string& newerPath, const DiffOptions& options, FILE* changes,
            FILE* lines);

}  // namespace oxtrel
