#include <oxtrel/diff.h>

#include <algorithm>

#include "api/archive_state.h"
#include "api/content_comparison.h"
#include "catalogue/path_order.h"
#include "extract/path_pattern.h"

namespace oxtrel {

namespace {

// The selected named records of one archive in path order; marks which patterns selected some.
std::vector<PathedRecord> comparedRecords(const Archive& archive, const DiffSettings& settings,
                                          std::vector<bool>& patternUsed, uint64_t& unnamed) {
  const ArchiveState& state = *archive.state;
  EntryMatches matches = matchEntries(archive, settings.patterns, settings.excludes);
  // The unused patterns come in the order they were given: one pass pairs them off.
  size_t unused = 0;
  for (size_t i = 0; i < settings.patterns.size(); ++i) {
    if (unused < matches.unusedPatterns.size() && matches.unusedPatterns[unused] == settings.patterns[i])
      ++unused;
    else
      patternUsed[i] = true;
  }
  return orderByPath(state.catalogue, state.index, matches.indices, unnamed);
}

}  // namespace

Result<DiffSummary> diffArchives(const Archive& older, const Archive& newer, const DiffSettings& settings,
                                 const ArchiveChangeCallback& onChange) {
  if (!older.state || !newer.state) return movedFrom();
  DiffSummary summary;
  std::vector<bool> patternUsed(settings.patterns.size(), false);
  const std::vector<PathedRecord> before = comparedRecords(older, settings, patternUsed, summary.unnamedOld);
  const std::vector<PathedRecord> after = comparedRecords(newer, settings, patternUsed, summary.unnamedNew);
  for (size_t i = 0; i < settings.patterns.size(); ++i)
    if (!patternUsed[i]) summary.unusedPatterns.push_back(settings.patterns[i]);

  ComparisonBuffers buffers;
  ArchiveChange change;
  auto deliver = [&](ChangeKind kind, const PathedRecord& record) {
    change.kind = kind;
    change.path = patternPath(record.folder, record.name);
    ++summary.changes;
    if (onChange) onChange(change);
  };
  size_t i = 0, j = 0;
  while (i < before.size() || j < after.size()) {
    if (settings.stop && settings.stop->load(std::memory_order_relaxed) != 0)
      return Error{ErrorKind::stopped, 0, {}};
    int order = i == before.size() ? 1 : j == after.size() ? -1 : comparePaths(before[i], after[j]);
    if (order < 0) {
      deliver(ChangeKind::removed, before[i++]);
    } else if (order > 0) {
      deliver(ChangeKind::added, after[j++]);
    } else {
      ++summary.compared;
      const Entry a = entryAt(older, before[i].record), b = entryAt(newer, after[j].record);
      Result<bool> same = sameContents(older, a, newer, b, buffers);
      if (!same) return std::move(same.error());
      if (!*same) deliver(ChangeKind::modified, before[i]);
      ++i;
      ++j;
    }
  }
  return summary;
}

Result<std::vector<ArchiveChange>> diffArchives(const Archive& older, const Archive& newer,
                                                const DiffSettings& settings) {
  std::vector<ArchiveChange> changes;
  Result<DiffSummary> summary =
      diffArchives(older, newer, settings, [&](const ArchiveChange& change) { changes.push_back(change); });
  if (!summary) return std::move(summary.error());
  return changes;
}

}  // namespace oxtrel
