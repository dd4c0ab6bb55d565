#include <oxtrel/update.h>

#include <array>
#include <optional>

#include "api/archive_state.h"
#include "api/path_argument.h"
#include "api/update_steps.h"
#include "catalogue/archive_records.h"
#include "catalogue/payload_format.h"
#include "pack/archive_update.h"
#include "pack/archive_writer.h"
#include "parallel/job_count.h"

namespace oxtrel {

namespace {

Status checkSettings(const std::string& archivePath, const UpdateSettings& settings) {
  if (settings.level < kMinCompressionLevel || settings.level > kMaxCompressionLevel)
    return Error{ErrorKind::invalidArgument, 0,
                 "compression level " + std::to_string(settings.level) + ", outside " +
                     std::to_string(kMinCompressionLevel) + ".." + std::to_string(kMaxCompressionLevel)};
  if (settings.jobs > kMaxJobs)
    return Error{ErrorKind::invalidArgument, 0, "jobs " + std::to_string(settings.jobs) + ", above " +
                                                    std::to_string(kMaxJobs)};
  if (Status usable = checkPathArgument(archivePath, "archive path"); !usable) return usable;
  if (Status usable = checkPathArgument(settings.directory, "directory"); !usable) return usable;
  return checkPathArgument(settings.destination, "destination");
}

bool namesAFile(const std::string& name) {
  size_t last = name.find_last_of("/\\");
  std::string_view fileName = std::string_view(name).substr(last == std::string::npos ? 0 : last + 1);
  return !fileName.empty() && fileName != ".";
}

// Extraction fails on a compressed payload without its size, or whose stream lacks a zlib
// header (method 8, check bits, no preset dictionary) or the room for its checksum: such a
// payload cannot give its file back. Nothing is inflated to find out.
bool implausibleCompressed(const ArchiveState& state, const Entry& entry) {
  if (entry.storedSize < kUnpackedSizeBytes) return true;
  if (entry.unpackedSize.value_or(0) == 0) return false;  // extracted as an empty file
  constexpr size_t kLeastStream = 2 + 4;                  // header and checksum
  if (entry.storedSize < kUnpackedSizeBytes + kLeastStream) return true;
  std::array<uint8_t, kUnpackedSizeBytes + 2> head{};
  if (!readAt(state.file, entry.offset, head)) return true;
  uint8_t method = head[4], flags = head[5];
  return (method & 0x0F) != 8 || (method >> 4) > 7 || ((method << 8) | flags) % 31 != 0 || (flags & 0x20) != 0;
}

std::string whyBroken(const ArchiveState& state, const Entry& entry) {
  if (!entry.name) return "its hash names no file of the archive";
  if (!namesAFile(*entry.name)) return "its name names no file";
  if (!entry.payloadInArchive) return "its payload lies outside the archive";
  if (entry.compressed && implausibleCompressed(state, entry)) return "its compressed payload holds no zlib stream";
  return {};
}

std::string whereOf(const Entry& entry) {
  if (entry.name) return entry.path;
  std::string where = "record ";  // appended: g++ 12 warns falsely (-Wrestrict) on "..." + std::string&&
  where.append(std::to_string(entry.indexInFolder)).append(" of folder '").append(entry.folder).push_back('\'');
  return where;
}

Result<std::vector<OldEntry>> describeOld(const Archive& archive, const std::vector<std::string>& remove) {
  const ArchiveState& state = *archive.state;
  std::vector<bool> removed(entryCount(archive), false);
  if (!remove.empty()) {
    EntryMatches matches = matchEntries(archive, remove, {});
    if (!matches.unusedPatterns.empty())
      return Error{ErrorKind::notFound, 0, "matches " + matches.unusedPatterns.front() + " (nothing was removed)"};
    for (size_t index : matches.indices) removed[index] = true;
  }
  std::vector<OldEntry> old;
  old.reserve(removed.size());
  for (const Entry& entry : entries(archive)) {
    old.push_back({entry.path, whereOf(entry), {state.file.file.get(), entry.offset, entry.storedSize},
                   removed[entry.index], whyBroken(state, entry)});
  }
  return old;
}

// What stands at path, links followed; none when nothing does.
std::optional<platform::FileIdentity> identityAt(const std::string& path) {
  platform::ReplaceTarget target;
  if (platform::findReplaceTarget(path, target) != 0 || !target.exists) return std::nullopt;
  return target.identity;
}

}  // namespace

Result<UpdateSummary> updateArchiveStepping(const std::string& archivePath, const UpdateSettings& settings,
                                            const PackNoteCallback& onNote,
                                            std::function<void(std::string_view step)> onStep) {
  if (Status usable = checkSettings(archivePath, settings); !usable) return std::move(usable.error());
  Result<Archive> archive = openArchive(archivePath);
  if (!archive) return std::move(archive.error());
  const ArchiveState& state = *archive->state;

  // A destination that is the archive itself, by any name, is an update in place.
  std::optional<platform::FileIdentity> archiveIdentity = identityAt(archivePath);
  std::string output = settings.destination.empty() ? archivePath : settings.destination;
  std::optional<platform::FileIdentity> outputIdentity = identityAt(output);
  if (outputIdentity && outputIdentity == archiveIdentity) output = archivePath;

  Result<std::vector<OldEntry>> old = describeOld(*archive, settings.remove);
  if (!old) return std::move(old.error());
  TreeScan tree;
  if (!settings.directory.empty()) {
    // The file replaced is never packed into its replacement.
    Result<TreeScan> scanned = scanTree(settings.directory, outputIdentity ? outputIdentity : archiveIdentity,
                                        settings.stop);
    if (!scanned) return std::move(scanned.error());
    tree = std::move(*scanned);
  }
  // The notes go to the caller before the outcome, as packDirectory's do.
  auto tell = [&](const std::vector<std::string>& notes) {
    if (onNote)
      for (const std::string& note : notes) onNote(note);
  };
  tell(tree.skipped);

  Result<UpdatePlan> plan = planUpdate(*old, tree);
  if (!plan) return std::move(plan.error());
  if (plan->broken > 0 && !settings.dropBroken) {
    tell(plan->notes);
    return Error{ErrorKind::brokenEntries, 0,
                 std::to_string(plan->broken) + " entries of '" + archivePath +
                     "' cannot be given back (noted above); --drop-broken leaves them out"};
  }

  PackOptions options{isCompressed(state.catalogue.header), settings.level,
                      settings.jobs == 0 ? defaultJobCount() : settings.jobs, settings.stop, std::move(onStep)};
  PackReport report = writeArchive(plan->catalogue, options, output);
  tell(plan->notes);
  tell(report.notes);
  if (!report.status) return std::move(report.status.error());
  return UpdateSummary{plan->kept,    plan->added,        plan->replaced,   plan->removed,
                       plan->broken,  plan->superseded,   report.fileCount, report.folderCount,
                       report.bytesIn, report.bytesOut};
}

Result<UpdateSummary> updateArchive(const std::string& archivePath, const UpdateSettings& settings,
                                    const PackNoteCallback& onNote) {
  return updateArchiveStepping(archivePath, settings, onNote, {});
}

}  // namespace oxtrel
