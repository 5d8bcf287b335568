// Re-pointing donor frames into the output bone array: the base entries keep their indices,
// the donor entries the appended frames use follow them in the order of first use.
#pragma once

#include <cstdint>
#include <vector>

#include "format/header.h"
#include "merge/entry_index.h"
#include "platform/platform.h"

namespace bonesplice {

inline constexpr uint32_t kUnsetSlot = 0xFFFFFFFFu;

// The output index chosen for each donor BoneDataIndex; kUnsetSlot until it is resolved.
using RemapTable = platform::LargeArray<uint32_t>;

// The donor entries to write after the base bone array, in append order: entry p, with output
// index base entry count + p, is donor entry donorIndices[p]. Its bytes are taken from the
// donor file when the output is written.
struct AppendedEntryList {
  platform::LargeArray<uint32_t> donorIndices;
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
  // each one use.
  std::vector<uint32_t> firstUses;
  std::vector<size_t> firstUsesThroughFrame;
};

// Prepares a fresh state for a merge: every remap slot unset, nothing appended; in optimize
// mode the base entries are indexed under key, the first position of each distinct entry
// winning. Throws std::bad_alloc when memory runs out.
void StartRemap(RemapState& state, const BoneArrays& arrays, bool optimize, HashKey key);

// Resolves a donor index the remap table does not know yet. Optimize mode returns the first
// appended entry with the same bytes, else the first base entry with them; otherwise, and when
// neither exists, the entry is appended. Returns the output index, or kUnsetSlot when it would
// not fit a 24-bit index.
uint32_t FindOrAppendEntry(uint32_t donorIndex, const BoneArrays& arrays, RemapState& state);

enum class RemapStatus { kOk, kBadIndex, kTooLarge };

struct RemapResult {
  RemapStatus status = RemapStatus::kOk;
  uint32_t badIndex = 0;    // kBadIndex: the donor index at or past the donor entry count
  uint32_t framesDone = 0;  // frames resolved completely before the first failure, or all
};

// Resolves the output index of every field of count frames stored back to back, each already
// in base bone order, with the result of resolving field after field with FindOrAppendEntry
// (each donor index once per merge) until one fails; that frame is reported. The donor
// indices the frames meet for the first time are resolved together, so that the memory reads
// of consecutive lookups overlap.
RemapResult RemapFrames(const uint8_t* records, uint32_t count, uint32_t fields,
                        const BoneArrays& arrays, RemapState& state);

// Rewrites each field of count frames stored back to back, in base bone order, from a donor
// index to its output index; every index must have been resolved by RemapFrames.
void RewriteFrames(uint8_t* records, uint32_t count, uint32_t fields, const RemapTable& remapTable);

}  // namespace bonesplice
