// Re-pointing donor frames into the output bone array: each frame put into base bone order, its
// indices resolved (the base entries keep theirs, the donor entries the appended frames use
// follow them in the order of first use) and rewritten.
#pragma once

#include <cstdint>
#include <optional>

#include "format/header.h"
#include "merge/bone_map.h"
#include "merge/failure.h"
#include "merge/table.h"
#include "merge/workers.h"

namespace bonesplice {

// One slot per donor BoneDataIndex. A slot holds the output index chosen for the donor index
// (below kMaxBoneDataEntries) once a frame has used the entry, or kUnsetSlot until one is
// chosen; with "-o" also, before the frames first use the entry: kSameAs | c, the entry has the
// same bytes as donor entry c, an earlier one, whose slot decides for both; kSameAsOutput | x,
// it has the bytes of output entry x (a base entry, or one added for an equal donor entry).
using RemapTable = Table<uint32_t>;
inline constexpr uint32_t kUnsetSlot = 0xFFFFFFFFu;
inline constexpr uint32_t kSameAs = uint32_t{1} << 31;
inline constexpr uint32_t kSameAsOutput = uint32_t{1} << 30;
inline constexpr uint32_t kSlotIndexMask = kMaxBoneDataEntries - 1;
static_assert(((kSameAs | kSameAsOutput) & kSlotIndexMask) == 0 &&
                  kSameAsOutput >= kMaxBoneDataEntries && (kSameAs & kSameAsOutput) == 0,
              "a slot that names another entry is never an output index, nor one of each kind");

inline bool IsOutputIndex(uint32_t slot) {
  return slot < kMaxBoneDataEntries;
}

// The donor entries to write after the base bone array, in append order: entry p, with output
// index base entry count + p, is donor entry donorIndices[p].
struct AppendedEntryList {
  Table<uint32_t> donorIndices;
  uint32_t count = 0;
  // Donor entries the frames use that take an entry the output holds already ("-o"): with
  // count, the entries a plain merge would add.
  uint32_t sharedCount = 0;
};

// The two bone arrays of a merge, as whole 14-byte entries.
struct BoneArrays {
  const uint8_t* baseEntries = nullptr;
  uint32_t baseEntryCount = 0;
  const uint8_t* donorEntries = nullptr;
  uint32_t donorEntryCount = 0;
};

// Writes the donor frame from into to in base bone order: field j of to is field secondIndex
// of entry j of from. The three bytes of a field move as they are; the frames must not overlap.
void ReorderFrame(const uint8_t* from, uint8_t* to, const BoneNameMap& boneNameMap);

// The donor's frames, read in base bone order.
struct DonorFrames {
  const uint8_t* frameArray = nullptr;  // donor frame 0
  uint64_t frameBytes = 0;
  const BoneNameMap* boneNameMap = nullptr;

  // Writes frames first to first + count - 1 to out, back to back, in base bone order.
  void Reorder(uint64_t first, uint64_t count, uint8_t* out) const {
    for (uint64_t i = 0; i < count; ++i) {
      ReorderFrame(frameArray + (first + i) * frameBytes, out + i * frameBytes, *boneNameMap);
    }
  }
};

// Everything the remapping keeps for one merge.
struct RemapState {
  RemapTable remapTable;
  AppendedEntryList appendedEntryList;
};

// Prepares a fresh state for a merge: every remap slot unset (StartRemap), then, after "-o" has
// marked the slots of equal entries, nothing appended (StartAppending), so that the tables of
// the sharing and the appended list never take memory at once. Throws std::bad_alloc when memory
// runs out.
void StartRemap(RemapState& state, const BoneArrays& arrays, const Workers& workers);
void StartAppending(RemapState& state, const BoneArrays& arrays);

struct RemapResult {
  uint64_t framesDone = 0;         // frames resolved completely before the failure, or all
  std::optional<Failure> failure;  // BadFrameIndex or TooLarge
};

// Resolves the output index of every field of count frames stored back to back in records,
// each in base bone order, field after field: a donor index met for the first time takes its
// slot's output index, else the one of the donor entry it has the bytes of, else is appended.
// Stops at the first field that names no donor entry (BadFrameIndex, the frame numbered
// firstFrame + its place) or whose entry cannot get a 24-bit output index (TooLarge).
RemapResult RemapFrames(const uint8_t* records, uint64_t count, uint32_t fields,
                        uint64_t firstFrame, const BoneArrays& arrays, RemapState& state);

// Rewrites each field of count frames stored back to back, in base bone order, from a donor
// index to its output index; every index must have been resolved.
void RewriteFrames(uint8_t* records, uint64_t count, uint32_t fields, const RemapTable& remapTable);

}  // namespace bonesplice
