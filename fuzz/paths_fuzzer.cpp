// The library's entry points that take paths and patterns, on arbitrary text: the input is split
// at newlines into patterns, excludes (after a line "--") and a lookup path (the last line), and
// used against a small archive whose names hold separators, case and bytes that are not UTF-8.
// A pattern compiled once must answer as one compiled for each path; matchEntries must select
// exactly the entries the selection rules pick for each path alone; findEntry must find only an entry whose path folds to the same.

#include <oxtrel/oxtrel.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "extract/entry_selection.h"
#include "extract/path_pattern.h"
#include "scratch.h"

namespace {

using namespace oxtrel;
using namespace oxtrel::testing;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

const Archive& sampleArchive() {
  static ScratchDir dir;
  static Archive archive = [] {
    TestArchive a;
    a.folders = {{.name = "meshes\\Props", .files = {{.name = "crate.nif", .payload = bytesOf("c")},
                                                    {.name = "Lamp.NIF", .payload = bytesOf("l")}}},
                 {.name = "a\\\\b", .files = {{.name = "x*[y].dds", .payload = bytesOf("x")}}},
                 {.name = "caf\xe9", .files = {{.name = "\xe9t\xe9.wav", .payload = bytesOf("e")}}},
                 {.name = "", .files = {{.name = "top.txt", .payload = bytesOf("t")}}}};
    writeFile(dir / "a.vrk", buildArchive(a));
    Result<Archive> opened = openArchive(dir / "a.vrk");
    check(opened.ok(), "the sample archive opens");
    return std::move(*opened);
  }();
  return archive;
}

// A path as a lookup sees it: a backslash as '/', ASCII case ignored, empty and "." components dropped.
std::string folded(std::string_view path) {
  std::string key, component;
  for (size_t i = 0; i <= path.size(); ++i) {
    char c = i < path.size() ? path[i] : '/';
    if (c != '/' && c != '\\') {
      component.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
      continue;
    }
    if (!component.empty() && component != ".") key += (key.empty() ? "" : "/") + component;
    component.clear();
  }
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Archive& archive = sampleArchive();
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n')
      lines.emplace_back();
    else
      lines.back().push_back(char(data[i]));
  }
  std::string lookup = lines.back();
  lines.pop_back();
  std::vector<std::string> patterns, excludes;
  bool inExcludes = false;
  for (std::string& line : lines) {
    if (line == "--") inExcludes = true;
    else (inExcludes ? excludes : patterns).push_back(std::move(line));
  }

  EntryMatches matches = matchEntries(archive, patterns, excludes);
  std::vector<SelectionPattern> includeRules, excludeRules;
  for (const std::string& p : patterns) includeRules.push_back(compileSelectionPattern(p));
  for (const std::string& p : excludes) excludeRules.push_back(compileSelectionPattern(p));
  size_t next = 0;
  for (size_t i = 0; i < entryCount(archive); ++i) {
    const Entry entry = entryAt(archive, i);
    bool included = patterns.empty(), excluded = false;
    for (SelectionPattern& rule : includeRules) included = included || (entry.name && selectsPath(rule, entry.path));
    for (SelectionPattern& rule : excludeRules) excluded = excluded || (entry.name && selectsPath(rule, entry.path));
    const bool selected = next < matches.indices.size() && matches.indices[next] == i;
    if (selected) ++next;
    check(selected == (included && !excluded), "matchEntries selects as the rules do for each path alone");
  }
  check(matches.unusedPatterns.size() <= patterns.size(), "unused patterns are among the patterns");

  for (const std::string& p : patterns) {
    CompiledPattern compiled = compilePathPattern(p);
    for (size_t i = 0; i < entryCount(archive); ++i) {
      const std::string path = entryAt(archive, i).path;
      check(matchesPathPattern(compiled, path) == matchesPathPattern(p, path), "a compiled pattern agrees");
      check(matchesPathPattern(compiled, lookup) == matchesPathPattern(p, lookup), "a compiled pattern agrees");
    }
  }

  if (const std::optional<Entry> found = findEntry(archive, lookup))
    check(folded(found->path) == folded(lookup), "findEntry finds only its own path");
  return 0;
}
