#include "extract/entry_selection.h"

#include <algorithm>

namespace oxtrel {

namespace {

// Whether an unanchored pattern matches one of the '/'-separated components of text; the last
// one is an entry's own name when lastIsName, which a folders-only pattern never matches.
bool matchesComponent(SelectionPattern& pattern, std::string_view text, bool lastIsName) {
  size_t start = 0;
  while (true) {
    const size_t end = std::min(text.find('/', start), text.size());
    const bool last = end == text.size();
    if ((!last || !lastIsName || !pattern.foldersOnly) &&
        matchesPathPattern(pattern.glob, text.substr(start, end - start)))
      return true;
    if (last) return false;
    start = end + 1;
  }
}

// Whether pattern names the folder at folderPath ('/' separators, not empty) or one above it.
bool selectsFolder(SelectionPattern& pattern, std::string_view folderPath) {
  if (pattern.empty) return false;
  if (pattern.anchored) return matchesPathPrefix(pattern.glob, folderPath, true);
  return matchesComponent(pattern, folderPath, false);
}

// Whether pattern selects the entry at path through the part from nameStart on: the entry's own
// name, and the folders a name holding separators makes; the folder's share is selectsFolder's.
bool selectsByName(SelectionPattern& pattern, std::string_view path, size_t nameStart) {
  if (pattern.empty) return false;
  const std::string_view name = path.substr(nameStart);
  if (!pattern.anchored) return matchesComponent(pattern, name, true);
  if (name.find('/') == std::string_view::npos)
    return !pattern.foldersOnly && matchesPathPattern(pattern.glob, path);
  return matchesPathPrefix(pattern.glob, path, !pattern.foldersOnly);
}

std::vector<SelectionPattern> compileAll(const std::vector<std::string>& patterns) {
  std::vector<SelectionPattern> compiled;
  compiled.reserve(patterns.size());
  for (const std::string& pattern : patterns) compiled.push_back(compileSelectionPattern(pattern));
  return compiled;
}

void markFolderHits(std::vector<SelectionPattern>& patterns, std::string_view folderPath, std::vector<uint8_t>& hits) {
  hits.assign(patterns.size(), 0);
  if (folderPath.empty()) return;  // the top level is no folder a pattern could name
  for (size_t i = 0; i < patterns.size(); ++i) hits[i] = selectsFolder(patterns[i], folderPath) ? 1 : 0;
}

}  // namespace

SelectionPattern compileSelectionPattern(std::string_view pattern) {
  SelectionPattern compiled;
  PatternShape shape;
  compiled.glob = compileTrimmedPattern(pattern, shape);
  compiled.anchored = shape.leadingSeparator || shape.innerSeparator;
  compiled.foldersOnly = shape.trailingSeparator;
  compiled.empty = compiled.glob.tokens.empty();
  return compiled;
}

bool selectsPath(SelectionPattern& pattern, std::string_view path) {
  if (pattern.empty) return false;
  if (!pattern.anchored) return matchesComponent(pattern, path, true);
  // Each folder above the entry, then the entry itself, matched alone from the top.
  for (size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1))
    if (matchesPathPattern(pattern.glob, path.substr(0, slash))) return true;
  return !pattern.foldersOnly && matchesPathPattern(pattern.glob, path);
}

EntrySelection selectEntries(const Catalogue& catalogue, const NameIndex& index,
                             const std::vector<std::string>& includes, const std::vector<std::string>& excludes) {
  EntrySelection selection;
  selection.includeUsed.assign(includes.size(), 0);
  bool filtering = !includes.empty() || !excludes.empty();
  // Each pattern is parsed once for the whole catalogue, not once per entry.
  std::vector<SelectionPattern> compiledIncludes = compileAll(includes);
  std::vector<SelectionPattern> compiledExcludes = compileAll(excludes);
  std::vector<uint8_t> includeFolderHits, excludeFolderHits;
  std::string folderPath, path;
  for (size_t folder = 0; folder < folderCount(catalogue); ++folder) {
    if (filtering) {
      folderPath = folderName(catalogue, folder);
      std::replace(folderPath.begin(), folderPath.end(), '\\', '/');
      markFolderHits(compiledIncludes, folderPath, includeFolderHits);
      markFolderHits(compiledExcludes, folderPath, excludeFolderHits);
    }
    const bool folderExcluded = std::find(excludeFolderHits.begin(), excludeFolderHits.end(), 1) != excludeFolderHits.end();
    const size_t nameStart = folderPath.empty() ? 0 : folderPath.size() + 1;
    for (const FileRecord& record : folderFiles(catalogue, folder)) {
      std::optional<std::string_view> name = lookup(index, record.hash);
      bool chosen = true;
      if (filtering) {
        chosen = includes.empty();
        if (name) {
          path = patternPath(folderName(catalogue, folder), *name);
          bool excluded = folderExcluded;
          for (size_t i = 0; i < compiledExcludes.size() && !excluded; ++i)
            excluded = selectsByName(compiledExcludes[i], path, nameStart);
          if (!excluded) {
            for (size_t i = 0; i < compiledIncludes.size(); ++i) {
              if (!includeFolderHits[i] && !selectsByName(compiledIncludes[i], path, nameStart)) continue;
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
