#pragma once

// The bytes of an archive's tables (header, folder table, folder blocks, name block) for a plan.

#include <array>
#include <cstdint>
#include <vector>

#include "pack/catalogue_plan.h"

namespace oxtrel {

// The identification word of every archive this program writes: the bytes "OXTR".
inline constexpr std::array<uint8_t, 4> kPackIdentification = {'O', 'X', 'T', 'R'};

struct PayloadPlacement {
  uint32_t size = 0;    // bytes stored in the archive
  uint32_t offset = 0;  // absolute
};

// Bytes from the start of the archive to the end of the name block: where payloads begin.
uint64_t tablesLength(const CataloguePlan& plan);

// Requires: placements holds one entry per planned file, in table order (folder by folder, each
// folder's files in order), and tablesLength(plan) fits in 32 bits.
// The header carries kPackIdentification, 36 as the table offset, the compression flag when
// compressed and 0 in the words nobody reads; each FolderRecord carries its block's offset.
std::vector<uint8_t> encodeTables(const CataloguePlan& plan, bool compressed,
                                  const std::vector<PayloadPlacement>& placements);

}  // namespace oxtrel
