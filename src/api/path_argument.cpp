#include "api/path_argument.h"

#include <string>

namespace oxtrel {

Status checkPathArgument(std::string_view path, std::string_view what) {
  size_t nul = path.find('\0');
  if (nul == std::string_view::npos) return {};
  // The text up to the NUL only: the message itself is printed and must hold no NUL.
  std::string where(what);
  where.append(" '").append(path.substr(0, nul)).append("\\0...' holds a NUL byte, which no file name can");
  return Error{ErrorKind::invalidArgument, 0, std::move(where)};
}

}  // namespace oxtrel
