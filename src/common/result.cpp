#include "common/result.h"

#include <cstring>

namespace oxtrel {

namespace {

const char* verbOf(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::cannotOpen: return "cannot open ";
    case ErrorKind::cannotRead: return "cannot read ";
    case ErrorKind::cannotWrite: return "cannot write ";
    case ErrorKind::truncated: return "truncated ";
    case ErrorKind::unsafePath: return "unsafe path ";
    case ErrorKind::unpackFailed: return "cannot unpack ";
    case ErrorKind::notFound: return "no entry ";
    default: return "";
  }
}

}  // namespace

std::string message(const Error& error) {
  if (error.kind == ErrorKind::notAnArchive)
    return "not a .vrk archive (it looks like a " + error.where + ")";
  std::string text = verbOf(error.kind) + error.where;
  if (error.systemError != 0) {
    text += ": ";
    text += std::strerror(error.systemError);
  } else if (error.kind == ErrorKind::cannotRead) {
    text += ": it ended early";
  }
  return text;
}

}  // namespace oxtrel
