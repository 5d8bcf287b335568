// Re-pointing donor frames into the output bone array: the base entries keep their indices, the
// donor entries the appended frames use follow them in the order of first use.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "format/header.h"
#include "merge/entry_index.h"
#include "merge/failure.h"
#include "merge/table.h"

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

// Resolves the output index of every field of count frames stored back to back in records,
// each already in base bone order, with the result of resolving field after field, each donor
// index once per merge: a new index is appended, or in optimize mode shared with the first
// appended, else the first base entry of the same bytes. Stops at the first field that names no
// donor entry (BadFrameIndex, the frame numbered firstFrame + its place) or whose entry cannot
// get a 24-bit output index (TooLarge). The lookups of the indices the frames use for the first
// time are made together, so that their memory reads overlap.
RemapResult RemapFrames(const uint8_t* records, uint32_t count, uint32_t fields,
                        uint64_t firstFrame, const BoneArrays& arrays, RemapState& state);

// Rewrites each field of count frames stored back to back, in base bone order, from a donor
// index to its output index; every index must have been resolved by RemapFrames.
void RewriteFrames(uint8_t* records, uint32_t count, uint32_t fields, const RemapTable& remapTable);

}  // namespace bonesplice
