#include "merge/remap.h"

#include <algorithm>

#include "format/bytes.h"

namespace bonesplice {
namespace {

EntrySource SourceOf(const BoneArrays& arrays, const RemapState& state) {
  return {arrays.baseEntries, arrays.baseEntryCount, state.appendedEntryList.bytes.data()};
}

}  // namespace

void StartRemap(RemapState& state, const BoneArrays& arrays, bool optimize) {
  state.optimize = optimize;
  // A 24-bit index never names an entry past the first 16,777,216.
  state.remapTable.assign(std::min(arrays.donorEntryCount, kMaxBoneDataEntries), kUnsetSlot);
  state.appendedEntryList = {};
  state.entryIndex = {};
  if (!optimize) return;
  EntrySource source = SourceOf(arrays, state);
  state.entryIndex.Reserve(arrays.baseEntryCount, source);
  for (uint32_t k = 0; k < arrays.baseEntryCount; ++k) {
    state.entryIndex.FindOrAdd(EntryBytes(source, k), k, source);
  }
}

uint32_t FindOrAppendEntry(uint32_t donorIndex, const BoneArrays& arrays, RemapState& state) {
  const uint8_t* entry = arrays.donorEntries + size_t{donorIndex} * kBoneDataEntrySize;
  AppendedEntryList& appended = state.appendedEntryList;
  uint64_t candidate = uint64_t{arrays.baseEntryCount} + appended.count;
  if (state.optimize) {
    // Appended entries never equal a base entry here, so one index answers both questions.
    uint32_t found = state.entryIndex.FindOrAdd(
        entry, static_cast<uint32_t>(std::min<uint64_t>(candidate, kUnsetSlot - 1)),
        SourceOf(arrays, state));
    if (found != candidate) return found < kMaxBoneDataEntries ? found : kUnsetSlot;
  }
  if (candidate >= kMaxBoneDataEntries) return kUnsetSlot;
  appended.bytes.insert(appended.bytes.end(), entry, entry + kBoneDataEntrySize);
  ++appended.count;
  return static_cast<uint32_t>(candidate);
}

RemapResult RemapFrame(uint8_t* record, const AnimHeader& donorHeader,
                       const BoneNameMap& boneNameMap, const BoneArrays& arrays,
                       RemapState& state) {
  ReorderFrame(record, donorHeader, boneNameMap);
  for (uint32_t j = 0; j < donorHeader.boneCount; ++j) {
    uint8_t* field = record + size_t{j} * kFrameFieldSize;
    uint32_t donorIndex = LoadU24(field);
    if (donorIndex >= arrays.donorEntryCount) return {RemapStatus::kBadIndex, donorIndex};
    uint32_t& slot = state.remapTable[donorIndex];
    if (slot == kUnsetSlot) {
      slot = FindOrAppendEntry(donorIndex, arrays, state);
      if (slot == kUnsetSlot) return {RemapStatus::kTooLarge, 0};
    }
    StoreU24(field, slot);
  }
  return {};
}

}  // namespace bonesplice
