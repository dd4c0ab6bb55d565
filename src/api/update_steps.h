#pragma once

// updateArchive with a hook at each step of the write (PackOptions::onStep), so that tests can
// end a run at any of them.

#include <oxtrel/update.h>

#include <functional>
#include <string_view>

namespace oxtrel {

Result<UpdateSummary> updateArchiveStepping(const std::string& archivePath, const UpdateSettings& settings,
                                            const PackNoteCallback& onNote,
                                            std::function<void(std::string_view step)> onStep);

}  // namespace oxtrel
