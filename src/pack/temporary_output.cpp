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

}  // namespace

TemporaryOutput::~TemporaryOutput() { discard(*this); }

Status createTemporaryOutput(const std::string& finalPath, TemporaryOutput& output) {
  output.finalPath = finalPath;
  if (platform::SystemError error = platform::createTemporaryBeside(finalPath, output.temporaryPath, output.file);
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
  if (platform::SystemError error = platform::commitTemporary(output.file, output.temporaryPath, output.finalPath);
      error != 0)
    return cannotWrite(output, error);
  return {};
}

}  // namespace oxtrel
