#include "pack/temporary_output.h"

#include "io/full_io.h"

namespace oxtrel {

namespace {

Error cannotWrite(const TemporaryOutput& output, int error) {
  return {ErrorKind::cannotWrite, error, "'" + output.finalPath + "'"};
}

void discard(TemporaryOutput& output) {
  if (!output.file.valid()) return;
  output.file.reset();
  platform::removeFile(output.temporaryPath);
}

// What stands at the destination now; anything but a regular file (or nothing) is refused.
Status checkTarget(TemporaryOutput& output) {
  if (platform::SystemError error = platform::findReplaceTarget(output.finalPath, output.target); error != 0)
    return cannotWrite(output, error);
  if (output.target.exists && output.target.kind != platform::FileKind::regular)
    return Error{ErrorKind::cannotWrite, 0, "'" + output.finalPath + "': not a regular file"};
  return {};
}

}  // namespace

TemporaryOutput::~TemporaryOutput() { discard(*this); }

Status createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output) {
  output.finalPath = finalPath;
  if (Status usable = checkTarget(output); !usable) return usable;
  if (platform::SystemError error =
          platform::createTemporaryBeside(output.target.path, output.temporaryPath, output.file);
      error != 0)
    return cannotWrite(output, error);
  return {};
}

Status writeOutputAt(TemporaryOutput& output, uint64_t offset, const uint8_t* bytes, size_t length) {
  Status written = writeFully(output.file.get(), {bytes, length}, offset);
  if (!written) return cannotWrite(output, written.error().systemError);
  return {};
}

Status commitOutput(TemporaryOutput& output) {
  // Something may have come to stand at the destination since the run began (or the link may
  // point elsewhere now); a rename would replace it.
  std::string targetPath = output.target.path;
  Status usable = checkTarget(output);
  if (usable && output.target.path != targetPath)
    usable = Error{ErrorKind::cannotWrite, 0, "'" + output.finalPath + "': it changed while the archive was written"};
  if (!usable) {
    discard(output);
    return usable;
  }
  if (platform::SystemError error = platform::commitTemporary(output.file, output.temporaryPath, output.target);
      error != 0)
    return cannotWrite(output, error);
  return {};
}

}  // namespace oxtrel
