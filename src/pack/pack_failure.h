#pragma once

// Why a pack stopped: a kind that callers and tests can act on, and a message for the user
// that names what is wrong and where.

#include <string>

namespace oxtrel {

enum class PackFailureKind {
  none,
  unreadable,         // a file or directory of the tree cannot be opened or read
  unstorableName,     // a name holds '\', which the extractor takes as a folder separator
  nameCollision,      // two different file names anywhere in the tree share one name hash
  folderNameTooLong,  // the length byte counts the NUL, so a folder name holds at most 254 bytes
  tooLarge,           // the archive would pass 4 GiB - 1, the reach of its 32-bit offsets
  cannotWrite,        // the archive cannot be created, written or put in place
};

struct PackFailure {
  PackFailureKind kind = PackFailureKind::none;
  std::string message;  // empty when kind is none
};

inline bool failed(const PackFailure& f) { return f.kind != PackFailureKind::none; }

}  // namespace oxtrel
