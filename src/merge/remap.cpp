#include "merge/remap.h"

#include <algorithm>
#include <cstring>

#include "format/bytes.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

// Starts loading the remap slots the fields of a frame name, those that name one.
void PrefetchSlots(const uint8_t* record, uint32_t fields, const RemapTable& remapTable) {
  for (uint32_t j = 0; j < fields; ++j) {
    uint32_t donorIndex = LoadU24(record + size_t{j} * kFrameFieldSize);
    if (donorIndex < remapTable.size()) BONESPLICE_PREFETCH(&remapTable[donorIndex]);
  }
}

// Appends donor entry donorIndex; kUnsetSlot when its output index would not fit 24 bits.
uint32_t AppendEntry(uint32_t donorIndex, const BoneArrays& arrays, AppendedEntryList& appended) {
  uint64_t candidate = uint64_t{arrays.baseEntryCount} + appended.count;
  if (candidate >= kMaxBoneDataEntries) return kUnsetSlot;
  appended.donorIndices[appended.count++] = donorIndex;
  return static_cast<uint32_t>(candidate);
}

// Settles the donor indices a frame is the first to use. Returns the failure at a field naming
// no donor entry (frame is the frame's number) or one that cannot be appended.
std::optional<Failure> NoteFirstUses(const uint8_t* record, uint32_t fields, uint64_t frame,
                                     const BoneArrays& arrays, RemapState& state) {
  RemapTable& table = state.remapTable;
  for (uint32_t j = 0; j < fields; ++j) {
    uint32_t donorIndex = LoadU24(record + size_t{j} * kFrameFieldSize);
    if (donorIndex >= arrays.donorEntryCount) {
      return BadFrameIndex{frame, donorIndex, arrays.donorEntryCount};
    }
    uint32_t& slot = table[donorIndex];
    if (IsOutputIndex(slot)) continue;
    if (slot == kUnsetSlot) {
      slot = AppendEntry(donorIndex, arrays, state.appendedEntryList);
      if (slot == kUnsetSlot) return TooLarge{};
      continue;
    }
    if ((slot & kSameAs) != 0) {
      // The earlier entry with the same bytes decides; added now, it is not used yet itself.
      uint32_t decider = slot & kSlotIndexMask;
      uint32_t& decided = table[decider];
      if (decided == kUnsetSlot) {
        slot = AppendEntry(decider, arrays, state.appendedEntryList);
        if (slot == kUnsetSlot) return TooLarge{};
        decided = kSameAsOutput | slot;
        continue;
      }
      slot = decided;
    }
    // The entry takes an output entry that was there before it.
    ++state.appendedEntryList.sharedCount;
    slot &= kSlotIndexMask;
  }
  return std::nullopt;
}

}  // namespace

void ReorderFrame(const uint8_t* from, uint8_t* to, const BoneNameMap& boneNameMap) {
  for (size_t j = 0; j < boneNameMap.size(); ++j) {
    std::memcpy(to + j * kFrameFieldSize,
                from + size_t{boneNameMap[j].secondIndex} * kFrameFieldSize, kFrameFieldSize);
  }
}

void StartRemap(RemapState& state, const BoneArrays& arrays, const Workers& workers) {
  // A 24-bit index never names an entry past the first 16,777,216.
  size_t slots = std::min(arrays.donorEntryCount, kMaxBoneDataEntries);
  state.remapTable = RemapTable(slots);
  constexpr size_t kSlotsPerPart = size_t{1} << 20;
  uint32_t* data = state.remapTable.data();
  workers.ForEach((slots + kSlotsPerPart - 1) / kSlotsPerPart, [&](size_t part, unsigned) {
    size_t first = part * kSlotsPerPart;
    std::fill(data + first, data + std::min(slots, first + kSlotsPerPart), kUnsetSlot);
  });
}

void StartAppending(RemapState& state, const BoneArrays& arrays) {
  // Room for every donor entry the output can take; pages it does not fill are never touched.
  uint32_t room =
      arrays.baseEntryCount < kMaxBoneDataEntries ? kMaxBoneDataEntries - arrays.baseEntryCount : 0;
  state.appendedEntryList.donorIndices = Table<uint32_t>(std::min(arrays.donorEntryCount, room));
  state.appendedEntryList.count = 0;
  state.appendedEntryList.sharedCount = 0;
}

RemapResult RemapFrames(const uint8_t* records, uint64_t count, uint32_t fields,
                        uint64_t firstFrame, const BoneArrays& arrays, RemapState& state) {
  size_t frameBytes = size_t{fields} * kFrameFieldSize;
  RemapResult result;
  if (count > 0) PrefetchSlots(records, fields, state.remapTable);
  for (; result.framesDone < count; ++result.framesDone) {
    const uint8_t* record = records + result.framesDone * frameBytes;
    if (result.framesDone + 1 < count) PrefetchSlots(record + frameBytes, fields, state.remapTable);
    result.failure = NoteFirstUses(record, fields, firstFrame + result.framesDone, arrays, state);
    if (result.failure) break;
  }
  return result;
}

void RewriteFrames(uint8_t* records, uint64_t count, uint32_t fields,
                   const RemapTable& remapTable) {
  size_t frameBytes = size_t{fields} * kFrameFieldSize;
  // The remap slots of the next frame are on their way while this one is rewritten.
  if (count > 0) PrefetchSlots(records, fields, remapTable);
  for (uint64_t f = 0; f < count; ++f) {
    if (f + 1 < count) PrefetchSlots(records + (f + 1) * frameBytes, fields, remapTable);
    uint8_t* record = records + f * frameBytes;
    for (uint32_t j = 0; j < fields; ++j) {
      uint8_t* field = record + size_t{j} * kFrameFieldSize;
      StoreU24(field, remapTable[LoadU24(field)]);
    }
  }
}

}  // namespace bonesplice
