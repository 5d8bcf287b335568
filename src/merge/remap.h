// Re-pointing donor frames into the output bone array: the base entries keep their indices, the
// donor entries the appended frames use follow them in the order of first use.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "format/header.h"
#include "merge/bone_map.h"
#include "merge/entry_index.h"
#include "merge/failure.h"
#include "merge/table.h"
#include "platform/compiler.h"

namespace bonesplice {

inline constexpr uint32_t kUnsetSlot = 0xFFFFFFFFu;

// The output index chosen for each donor BoneDataIndex; kUnsetSlot until it is resolved.
using RemapTable = Table<uint32_t>;

// The donor entries to write after the base bone array, in append order: entry p, with output
// index base entry count + p, is donor entry donorIndices[p].
struct AppendedEntryList {
  Table<uint32_t> donorIndices;
  uint32_t count = 0;
};

// The two bone arrays of a merge, as whole 14-byte entries.
struct BoneArrays {
  const uint8_t* baseEntries = nullptr;
  uint32_t baseEntryCount = 0;
  const uint8_t* donorEntries = nullptr;
  uint32_t donorEntryCount = 0;
};

// The donor's frame array, each frame read in base bone order through the map.
struct DonorFrames {
  const uint8_t* frameArray = nullptr;  // donor frame 0
  uint64_t frameBytes = 0;
  const BoneNameMap* boneNameMap = nullptr;

  const uint8_t* Frame(uint64_t i) const { return frameArray + i * frameBytes; }
  size_t fields() const { return boneNameMap->size(); }
};

// Everything the remapping keeps for one merge.
struct RemapState {
  bool optimize = false;  // share byte-identical entries instead of appending them again
  RemapTable remapTable;
  AppendedEntryList appendedEntryList;
  EntryIndex entryIndex;  // optimize mode: base entries (first of each) and appended entries
  // RemapFrames' working lists, kept to avoid allocating per call: the donor indices first used
  // in the frames at hand, in order of first use, and how many of them the frames up to each
  // one use.
  std::vector<uint32_t> firstUses;
  std::vector<size_t> firstUsesThroughFrame;
};

// Prepares a fresh state for a merge: every remap slot unset, nothing appended; in optimize
// mode the base entries are indexed under key, the first position of each distinct entry
// winning. Throws std::bad_alloc when memory runs out.
void StartRemap(RemapState& state, const BoneArrays& arrays, bool optimize, HashKey key);

struct RemapResult {
  uint32_t framesDone = 0;         // frames resolved completely before the failure, or all
  std::optional<Failure> failure;  // BadFrameIndex or TooLarge
};

// Resolves the output index of every field of donor frames first to first + count - 1, with the
// result of resolving field after field, each donor index once per merge: a new index is
// appended, or in optimize mode shared with the first appended, else the first base entry of
// the same bytes. Stops at the first field that names no donor entry (BadFrameIndex) or whose
// entry cannot get a 24-bit output index (TooLarge). The lookups of the indices the frames use
// for the first time are made together, so that their memory reads overlap.
RemapResult RemapFrames(const DonorFrames& frames, uint64_t first, uint32_t count,
                        const BoneArrays& arrays, RemapState& state);

// Starts loading the remap slots that the fields of a donor frame name, those that name one.
inline void PrefetchSlots(const uint8_t* frame, const BoneNameMap& boneNameMap,
                          const RemapTable& remapTable) {
  for (size_t j = 0; j < boneNameMap.size(); ++j) {
    uint32_t donorIndex = FieldInBaseOrder(frame, boneNameMap, j);
    if (donorIndex < remapTable.size()) BONESPLICE_PREFETCH(&remapTable[donorIndex]);
  }
}

}  // namespace bonesplice
