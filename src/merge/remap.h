// Re-pointing donor frames into the output bone array: the base entries keep their indices,
// the donor entries the appended frames use follow them in the order of first use.
#pragma once

#include <cstdint>
#include <vector>

#include "format/header.h"
#include "merge/bone_map.h"
#include "merge/entry_index.h"

namespace bonesplice {

inline constexpr uint32_t kUnsetSlot = 0xFFFFFFFFu;

// The output index chosen for each donor BoneDataIndex; kUnsetSlot until it is resolved.
using RemapTable = std::vector<uint32_t>;

// The donor entries to write after the base bone array, back to back in append order; entry p
// has output index base entry count + p.
struct AppendedEntryList {
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
};

// The two bone arrays of a merge, as whole 14-byte entries.
struct BoneArrays {
  const uint8_t* baseEntries = nullptr;
  uint32_t baseEntryCount = 0;
  const uint8_t* donorEntries = nullptr;
  uint32_t donorEntryCount = 0;
};

// Everything the remapping keeps for one merge.
struct RemapState {
  bool optimize = false;  // share byte-identical entries instead of appending them again
  RemapTable remapTable;
  AppendedEntryList appendedEntryList;
  EntryIndex entryIndex;  // optimize mode: base entries (first of each) and appended entries
  // Working lists of RemapFrames, kept to avoid allocating per call: the donor indices first
  // used in the frames at hand, in order of first use, and how many of them the frames up to
  // each one use; a copy of the frame being reordered.
  std::vector<uint32_t> firstUses;
  std::vector<size_t> firstUsesThroughFrame;
  std::vector<uint8_t> frameCopy;
};

// Prepares state for a merge: every remap slot unset, nothing appended; in optimize mode the
// base entries are indexed, the first position of each distinct entry winning.
void StartRemap(RemapState& state, const BoneArrays& arrays, bool optimize);

// Resolves a donor index the remap table does not know yet. Optimize mode returns the first
// appended entry with the same bytes, else the first base entry with them; otherwise, and when
// neither exists, the entry is appended. Returns the output index, or kUnsetSlot when it would
// not fit a 24-bit index.
uint32_t FindOrAppendEntry(uint32_t donorIndex, const BoneArrays& arrays, RemapState& state);

enum class RemapStatus { kOk, kBadIndex, kTooLarge };

struct RemapResult {
  RemapStatus status = RemapStatus::kOk;
  uint32_t badIndex = 0;    // kBadIndex: the donor index at or past the donor entry count
  uint32_t framesDone = 0;  // frames rewritten completely before the first failure, or all
};

// Puts a donor frame into base bone order, then rewrites each field from a donor index to an
// output index, resolving each donor index once per merge.
RemapResult RemapFrame(uint8_t* record, const AnimHeader& donorHeader,
                       const BoneNameMap& boneNameMap, const BoneArrays& arrays, RemapState& state);

// RemapFrame on count frames stored back to back, with the same result as calling it on each
// in turn until one fails; that frame is reported and the frames before it are rewritten.
// The donor indices the frames meet for the first time are resolved together, so that the
// memory reads of consecutive lookups overlap.
RemapResult RemapFrames(uint8_t* records, uint32_t count, const AnimHeader& donorHeader,
                        const BoneNameMap& boneNameMap, const BoneArrays& arrays,
                        RemapState& state);

}  // namespace bonesplice
