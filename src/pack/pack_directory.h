#pragma once

// The whole of packing: scan a directory, plan the catalogue, write the archive.

#include <string>

#include "pack/archive_writer.h"

namespace oxtrel {

// Packs every regular file below directory into archivePath (see scanTree, planCatalogue and
// writeArchive for what is refused). Files directly in directory go in the folder with the empty
// name. A regular file already at archivePath is never packed into the new archive, even when it
// lies inside directory. The notes list the entries not packed and why, then the writer's notes.
PackReport packDirectory(const std::string& directory, const std::string& archivePath,
                         const PackOptions& options);

}  // namespace oxtrel
