#include "cli/outcome_lines.h"

#include <cstring>

#include "cli/json_text.h"

namespace oxtrel {

namespace {

const char* problemOutcome(ExtractEventKind kind) {
  switch (kind) {
    case ExtractEventKind::unsafePath: return "unsafe path";
    case ExtractEventKind::truncatedPayload: return "truncated payload";
    case ExtractEventKind::unpackFailed: return "unpack failed";
    case ExtractEventKind::cannotWrite: return "cannot write";
    case ExtractEventKind::keptExisting: return "kept";
    case ExtractEventKind::entry:
    case ExtractEventKind::unmatched:
    case ExtractEventKind::possiblyPacked: break;
  }
  return nullptr;
}

void writePending(OutcomeLines& lines) {
  if (!lines.pending) return;
  const Entry& entry = *lines.pending;
  std::string& line = lines.line;
  line.clear();
  line.push_back('{');
  appendJsonBytesField(line, "folder", entry.folder, "folder_hex");
  line.push_back(',');
  if (entry.name) {
    appendJsonBytesField(line, "name", *entry.name, "name_hex");
    line.append(",\"path\":");
    appendJsonString(line, entry.path);
  } else {
    line.append("\"name\":null,\"path\":null");
  }
  line.append(",\"offset\":").append(std::to_string(entry.offset));
  line.append(",\"size\":").append(std::to_string(entry.storedSize));
  line.append(",\"outcome\":\"").append(!entry.name ? "unmatched" : lines.outcome ? lines.outcome : lines.success);
  line.push_back('"');
  if (lines.possiblyPacked) line.append(",\"possibly_packed\":true");
  if (lines.error != 0) {
    line.append(",\"error\":");
    appendJsonString(line, std::strerror(lines.error));
  }
  line.append("}\n");
  std::fwrite(line.data(), 1, line.size(), lines.out);
  lines.pending.reset();
}

}  // namespace

OutcomeLines makeOutcomeLines(const Archive& archive, const std::vector<std::string>& patterns,
                              const std::vector<std::string>& excludes, const char* success, FILE* out) {
  OutcomeLines lines;
  lines.archive = &archive;
  // Without patterns every record is handled: no list of their places is made.
  if (!patterns.empty() || !excludes.empty()) lines.selected = matchEntries(archive, patterns, excludes).indices;
  lines.success = success;
  lines.out = out;
  return lines;
}

void noteOutcome(OutcomeLines& lines, const ExtractEvent& event) {
  if (event.kind == ExtractEventKind::entry || event.kind == ExtractEventKind::unmatched) {
    // Each handled record begins with one of these two, in table order: the next selected one.
    writePending(lines);
    size_t k = lines.seen++;
    lines.pending = entryAt(*lines.archive, lines.selected.empty() ? k : lines.selected[k]);
    lines.outcome = nullptr;
    lines.possiblyPacked = false;
    lines.error = 0;
    return;
  }
  if (event.kind == ExtractEventKind::possiblyPacked) {
    lines.possiblyPacked = true;
    return;
  }
  lines.outcome = problemOutcome(event.kind);
  lines.error = event.error;
}

void finishOutcomes(OutcomeLines& lines, int streamError) {
  if (streamError != 0 && lines.pending) {
    lines.outcome = "cannot write";
    lines.error = streamError;
  }
  writePending(lines);
}

}  // namespace oxtrel
