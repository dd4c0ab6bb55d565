#include "extract/entry_selection.h"

#include "extract/path_pattern.h"

namespace oxtrel {

namespace {

bool anyMatches(std::vector<CompiledPattern>& patterns, std::string_view path) {
  for (CompiledPattern& pattern : patterns)
    if (matchesPathPattern(pattern, path)) return true;
  return false;
}

std::vector<CompiledPattern> compileAll(const std::vector<std::string>& patterns) {
  std::vector<CompiledPattern> compiled;
  compiled.reserve(patterns.size());
  for (const std::string& pattern : patterns) compiled.push_back(compilePathPattern(pattern));
  return compiled;
}

}  // namespace

EntrySelection selectEntries(const Catalogue& catalogue, const NameIndex& index,
                             const std::vector<std::string>& includes, const std::vector<std::string>& excludes) {
  EntrySelection selection;
  selection.includeUsed.assign(includes.size(), 0);
  bool filtering = !includes.empty() || !excludes.empty();
  // Each pattern is parsed once for the whole catalogue, not once per entry.
  std::vector<CompiledPattern> compiledIncludes = compileAll(includes);
  std::vector<CompiledPattern> compiledExcludes = compileAll(excludes);
  for (size_t folder = 0; folder < folderCount(catalogue); ++folder) {
    for (const FileRecord& record : folderFiles(catalogue, folder)) {
      std::optional<std::string_view> name = lookup(index, record.hash);
      bool chosen = true;
      if (filtering) {
        chosen = includes.empty();
        if (name) {
          std::string path = patternPath(folderName(catalogue, folder), *name);
          if (!anyMatches(compiledExcludes, path)) {
            for (size_t i = 0; i < includes.size(); ++i) {
              if (!matchesPathPattern(compiledIncludes[i], path)) continue;
              selection.includeUsed[i] = 1;
              chosen = true;
            }
          } else {
            chosen = false;
          }
        }
        selection.chosen.push_back(chosen ? 1 : 0);
      }
      if (chosen && name) {
        ++selection.entries;
        selection.storedBytes += record.size;
      }
    }
  }
  return selection;
}

}  // namespace oxtrel
