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

// What each pattern makes of one folder's entries: all of them (it names the folder or one above
// it), or those their names decide (candidates). Anchored patterns whose fixed start disagrees with
// the folder's path are neither: many literal paths cost one comparison per folder, not per entry.
struct FolderVerdicts {
  std::vector<size_t> all;
  std::vector<size_t> candidates;
};

void judgeFolder(std::vector<SelectionPattern>& patterns, std::string_view folderPath, std::string_view below,
                 FolderVerdicts& verdicts) {
  verdicts.all.clear();
  verdicts.candidates.clear();
  for (size_t i = 0; i < patterns.size(); ++i) {
    SelectionPattern& pattern = patterns[i];
    if (pattern.empty) continue;
    if (!folderPath.empty() && selectsFolder(pattern, folderPath))
      verdicts.all.push_back(i);
    else if (!pattern.anchored || startsLikePattern(pattern.glob, below))
      verdicts.candidates.push_back(i);
  }
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
  FolderVerdicts included, excluded;
  std::string folderPath, below, path;
  for (size_t folder = 0; folder < folderCount(catalogue); ++folder) {
    if (filtering) {
      folderPath = folderName(catalogue, folder);
      std::replace(folderPath.begin(), folderPath.end(), '\\', '/');
      // What every path in the folder starts with.
      below = folderPath.empty() ? std::string() : folderPath + '/';
      judgeFolder(compiledIncludes, folderPath, below, included);
      judgeFolder(compiledExcludes, folderPath, below, excluded);
    }
    for (const FileRecord& record : folderFiles(catalogue, folder)) {
      std::optional<std::string_view> name = lookup(index, record.hash);
      bool chosen = true;
      if (filtering) {
        chosen = includes.empty();
        if (name) {
          path = below;
          path.append(*name);
          std::replace(path.begin() + ptrdiff_t(below.size()), path.end(), '\\', '/');
          bool out = !excluded.all.empty();
          for (size_t k = 0; k < excluded.candidates.size() && !out; ++k)
            out = selectsByName(compiledExcludes[excluded.candidates[k]], path, below.size());
          if (!out) {
            for (size_t i : included.all) selection.includeUsed[i] = 1;
            chosen = chosen || !included.all.empty();
            for (size_t i : included.candidates) {
              if (!selectsByName(compiledIncludes[i], path, below.size())) continue;
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
