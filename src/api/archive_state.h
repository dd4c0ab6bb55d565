#pragma once

// What an open Archive holds behind its handle: the file and its tables.

#include <oxtrel/archive.h>

#include <string>

#include "catalogue/catalogue_loader.h"
#include "catalogue/name_index.h"
#include "io/positional_file.h"

namespace oxtrel {

struct ArchiveState {
  std::string path;
  PositionalFile file;
  Catalogue catalogue;
  NameIndex index;
};

// What every call that can fail answers for an Archive that was moved from.
Error movedFrom();

}  // namespace oxtrel
