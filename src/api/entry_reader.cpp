#include <oxtrel/entry_reader.h>

#include <algorithm>
#include <string>

#include "api/archive_state.h"
#include "extract/payload_stream.h"

namespace oxtrel {

struct EntryReaderState {
  PayloadStream stream;
  std::string where;  // the entry's path, for errors
  // Compressed bytes skipped by a forward seek are inflated here; made on the first such seek.
  std::unique_ptr<uint8_t[]> skipped;
};

void EntryReaderStateRelease::operator()(EntryReaderState* state) const { delete state; }

namespace {

constexpr size_t kSkipBlock = 64 * 1024;

Error movedReader() { return Error{ErrorKind::invalidArgument, 0, "a reader that was moved from"}; }

Error named(Error error, const std::string& where) {
  error.where = where;
  return error;
}

}  // namespace

Result<EntryReader> openEntryReader(const Archive& archive, const Entry& entry) {
  if (!archive.state) return movedFrom();
  const std::string& where = entry.path.empty() ? entry.folder : entry.path;
  Result<PayloadStream> stream =
      openPayloadStream(archive.state->file, entry.offset, entry.storedSize, entry.compressed, SizeCheck::exact);
  if (!stream) return named(std::move(stream.error()), where);
  EntryReader reader{std::unique_ptr<EntryReaderState, EntryReaderStateRelease>(new EntryReaderState)};
  reader.state->stream = std::move(stream.value());
  reader.state->where = where;
  return reader;
}

Result<size_t> read(EntryReader& reader, std::span<std::byte> into) {
  if (!reader.state) return movedReader();
  EntryReaderState& state = *reader.state;
  Result<size_t> n = readPayloadStream(state.stream, {reinterpret_cast<uint8_t*>(into.data()), into.size()});
  if (!n) return named(std::move(n.error()), state.where);
  return n;
}

Status seek(EntryReader& reader, uint64_t position) {
  if (!reader.state) return movedReader();
  EntryReaderState& state = *reader.state;
  PayloadStream& stream = state.stream;
  if (position > decodedSize(stream))
    return Error{ErrorKind::invalidArgument, 0,
                 "position " + std::to_string(position) + " past the end of " + state.where};
  if (!stream.compressed) {
    stream.failure.reset();
    stream.produced = position;
    stream.ended = position == stream.storedSize;
    return {};
  }
  if (position < stream.produced || (position == 0 && stream.failure)) rewindPayloadStream(stream);
  if (position > stream.produced && !state.skipped) state.skipped.reset(new uint8_t[kSkipBlock]);
  while (stream.produced < position) {
    size_t want = size_t(std::min<uint64_t>(kSkipBlock, position - stream.produced));
    Result<size_t> n = readPayloadStream(stream, {state.skipped.get(), want});
    if (!n) return named(std::move(n.error()), state.where);
    if (*n == 0) break;  // cannot happen: an exact stream fails rather than end early
  }
  return {};
}

uint64_t position(const EntryReader& reader) { return reader.state ? reader.state->stream.produced : 0; }

uint64_t decodedSize(const EntryReader& reader) { return reader.state ? decodedSize(reader.state->stream) : 0; }

}  // namespace oxtrel
