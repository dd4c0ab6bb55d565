#pragma once

// What the POSIX implementation asks of a system's faster calls before doing the portable
// thing. Each answers nullopt (or false) when it does not apply, so that the portable way runs:
// linux/ implements them, no_fast_paths.cpp answers "no" everywhere else. Set
// OXTREL_NO_FAST_PATHS=1 in the environment (read once per process) to run the portable ways on
// Linux too, as tests do to check that both give the same results.

#include <optional>

#include "platform/platform.h"

namespace oxtrel::platform::fast {

// False when OXTREL_NO_FAST_PATHS is set.
bool allowed();

// Opens the directory name in parent, never through a symbolic link, in one call.
std::optional<SystemError> openChildDirectory(int parent, const char* name, Directory& directory);

// Writes content into a file made without a name in directory and names it name (replacing
// what is there); nullopt when this file system or system cannot, so a named temporary is used.
std::optional<SystemError> publishUnnamed(Publisher& publisher, int directory, const std::string& name,
                                          const Content& content);

// Copies range to file inside the system, at *at (advanced by what was copied) when given, else
// at the file's position. Advances range by what was copied; nullopt when the system will not
// copy between these files (the rest is then copied through memory), after clearing
// options.copyInKernel.
std::optional<SystemError> copyRange(int file, FileRange& range, PublishOptions& options, uint64_t* at = nullptr);

// A file without a name whose bytes live in memory; nullopt where the system has none.
std::optional<SystemError> createMemoryFile(File& file);

// Grows or moves an existing mapping; false when the system cannot (the caller maps anew).
bool remap(uint8_t* old, size_t oldLength, size_t length, uint8_t*& grown);

// Advice that a fresh mapping of length bytes is worth huge pages. Only a hint.
void adviseHugePages(uint8_t* bytes, size_t length);

// The CPUs in this process's affinity mask; 0 when unknown.
unsigned affinityCpus();

}  // namespace oxtrel::platform::fast
