#pragma once

// The one way the library fails: a value, or an Error naming what went wrong and where.
// A success carries only its value, so results on the per-entry path never allocate.
// Nothing in the library throws for a failure it can name; only running out of memory throws
// (std::bad_alloc).

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include <oxtrel/export.h>

namespace oxtrel {

enum class ErrorKind {
  cannotOpen,         // not there, not readable, or not a regular file
  cannotRead,         // a read failed, or the file ended before the bytes it should hold
  cannotWrite,        // the file system refused to create, write or name a file
  truncated,          // the archive ends before a table or payload it describes
  unsafePath,         // an output path climbs out of `data` or passes through a symbolic link
  unpackFailed,       // a compressed payload cannot be inflated
  unstorableName,     // a name holds '\', which the extractor takes as a folder separator
  nameCollision,      // two different file names share one name hash
  folderNameTooLong,  // the length byte counts the NUL, so a folder name holds at most 254 bytes
  tooLarge,           // the archive would pass 4 GiB - 1, the reach of its 32-bit offsets
  invalidArgument,    // a caller's value is out of range or malformed; where says which
  notFound,           // no entry has the path asked for
  stopped,            // the caller's stop flag ended the call; nothing was left behind
  notAnArchive,       // the file identifies as another format; where says which ("tar archive")
  brokenEntries,      // an update met entries the archive cannot give back (see update.h)
};

struct Error {
  ErrorKind kind = ErrorKind::cannotRead;
  int systemError = 0;  // errno when the system refused; 0 otherwise
  std::string where;    // the file, path or table concerned; empty when the caller knows it
};

// The kind's verb and where, then the system's reason: "cannot write data\a\b: No space left
// on device", "truncated catalogue", "not a .vrk archive (it looks like a tar archive)".
// The packer's refusals (unstorableName .. tooLarge) carry their whole explanation in where.
OXTREL_API std::string message(const Error& error);

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Requires ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // Requires !ok().
  Error& error() { return std::get<1>(state_); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }

  // Requires !ok().
  Error& error() { return *error_; }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

using Status = Result<void>;

}  // namespace oxtrel
