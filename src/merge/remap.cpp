#include "merge/remap.h"

#include <algorithm>
#include <cstring>

#include "format/bytes.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

// How many lookups ahead the reads of a later lookup are started: its entry's bytes at three
// times this distance, its slot in the entry index at twice, the entry recorded there at once.
constexpr size_t kLookahead = 16;
// The hashes of the lookups from the current one to the one 2 * kLookahead on.
constexpr size_t kHashRing = 64;
static_assert(kHashRing > 2 * kLookahead, "a hash would be overwritten before its lookup");

// The remap slot of a donor index met for the first time in the frames being remapped, until
// the index is resolved.
constexpr uint32_t kPendingSlot = 0xFFFFFFFEu;
static_assert(kPendingSlot >= kMaxBoneDataEntries, "no output index looks pending");

EntrySource SourceOf(const BoneArrays& arrays) {
  return {arrays.baseEntries, arrays.donorEntries};
}

const uint8_t* DonorEntry(const BoneArrays& arrays, uint32_t donorIndex) {
  return arrays.donorEntries + size_t{donorIndex} * kBoneDataEntrySize;
}

// Calls lookup(p, hash of entryAt(p)) for p from 0 to count - 1 in order until it returns
// false, while the reads of the lookups a few places later are already under way. Returns
// how many lookups returned true.
template <typename EntryAt, typename Lookup>
size_t LookUpInOrder(size_t count, const BoneArrays& arrays, RemapState& state, EntryAt entryAt,
                     Lookup lookup) {
  const EntryIndex& index = state.entryIndex;
  uint64_t hashes[kHashRing];
  auto startSlotRead = [&](size_t p) {
    hashes[p % kHashRing] = index.Hash(entryAt(p));
    index.Prefetch(hashes[p % kHashRing]);
  };
  for (size_t p = 0; p < std::min(count, 2 * kLookahead); ++p) startSlotRead(p);
  for (size_t p = 0; p < count; ++p) {
    if (p + 3 * kLookahead < count) BONESPLICE_PREFETCH(entryAt(p + 3 * kLookahead));
    if (p + 2 * kLookahead < count) startSlotRead(p + 2 * kLookahead);
    if (p + kLookahead < count) {
      EntryRef match = index.PrefetchMatch(hashes[(p + kLookahead) % kHashRing], SourceOf(arrays));
      // An entry appended before answers with its output index, kept in the remap table.
      if (match != EntryIndex::kNoEntry && (match & kDonorEntry) != 0) {
        BONESPLICE_PREFETCH(&state.remapTable[match & ~kDonorEntry]);
      }
    }
    if (!lookup(p, hashes[p % kHashRing])) return p;
  }
  return count;
}

// Appends a donor entry; kUnsetSlot when its output index would not fit 24 bits.
uint32_t AppendEntry(uint32_t donorIndex, const BoneArrays& arrays, RemapState& state) {
  AppendedEntryList& appended = state.appendedEntryList;
  uint64_t candidate = uint64_t{arrays.baseEntryCount} + appended.count;
  if (candidate >= kMaxBoneDataEntries) return kUnsetSlot;
  appended.donorIndices[appended.count++] = donorIndex;
  return static_cast<uint32_t>(candidate);
}

// Resolves a donor index the remap table does not know yet, whose entry's hash is known
// (optimize mode only). The index holds the base entries (the first of equal ones) and the
// entries appended so far, which never equal a base entry here: one lookup gives the first
// appended entry of the same bytes, else the first base entry, else appends the entry. Returns
// the output index, or kUnsetSlot when it would not fit a 24-bit index.
uint32_t FindOrAppendEntry(uint32_t donorIndex, uint64_t hash, const BoneArrays& arrays,
                           RemapState& state) {
  EntryRef candidate = kDonorEntry | donorIndex;
  EntryRef found =
      state.entryIndex.FindOrAdd(DonorEntry(arrays, donorIndex), hash, candidate, SourceOf(arrays));
  if (found == candidate) return AppendEntry(donorIndex, arrays, state);
  if ((found & kDonorEntry) == 0) return found;  // a base entry keeps its position
  return state.remapTable[found & ~kDonorEntry];
}

// Starts loading the remap slots the fields of a frame name, those that name one.
void PrefetchSlots(const uint8_t* record, uint32_t fields, const RemapTable& remapTable) {
  for (uint32_t j = 0; j < fields; ++j) {
    uint32_t donorIndex = LoadU24(record + size_t{j} * kFrameFieldSize);
    if (donorIndex < remapTable.size()) BONESPLICE_PREFETCH(&remapTable[donorIndex]);
  }
}

// Checks the fields of a frame and settles the donor indices it is the first to use: appended
// at once in plain mode, listed for ResolveFirstUses in optimize mode. Returns the failure at a
// field naming no donor entry (frame is the frame's number) or one that cannot be appended.
std::optional<Failure> NoteFirstUses(const uint8_t* record, uint32_t fields, uint64_t frame,
                                     const BoneArrays& arrays, RemapState& state) {
  for (uint32_t j = 0; j < fields; ++j) {
    uint32_t donorIndex = LoadU24(record + size_t{j} * kFrameFieldSize);
    if (donorIndex >= arrays.donorEntryCount) {
      return BadFrameIndex{frame, donorIndex, arrays.donorEntryCount};
    }
    uint32_t& slot = state.remapTable[donorIndex];
    if (slot != kUnsetSlot) continue;
    if (state.optimize) {
      slot = kPendingSlot;
      state.firstUses.push_back(donorIndex);
      continue;
    }
    slot = AppendEntry(donorIndex, arrays, state);
    if (slot == kUnsetSlot) return TooLarge{};
  }
  return std::nullopt;
}

// Resolves the listed first uses in order, as one FindOrAppendEntry after another, while the
// reads of the lookups a few places later are already under way. Returns how many were
// resolved before the first that does not fit a 24-bit index, or all of them.
size_t ResolveFirstUses(const BoneArrays& arrays, RemapState& state) {
  const std::vector<uint32_t>& uses = state.firstUses;
  auto entryAt = [&](size_t p) { return DonorEntry(arrays, uses[p]); };
  return LookUpInOrder(uses.size(), arrays, state, entryAt, [&](size_t p, uint64_t hash) {
    uint32_t slot = FindOrAppendEntry(uses[p], hash, arrays, state);
    state.remapTable[uses[p]] = slot;
    return slot != kUnsetSlot;
  });
}

}  // namespace

void StartRemap(RemapState& state, const BoneArrays& arrays, bool optimize, HashKey key) {
  state.optimize = optimize;
  // A 24-bit index never names an entry past the first 16,777,216.
  size_t slots = std::min(arrays.donorEntryCount, kMaxBoneDataEntries);
  state.remapTable = RemapTable(slots);
  std::memset(state.remapTable.data(), 0xFF, slots * sizeof(uint32_t));
  // Room for every donor entry the output can take; pages it does not fill are never touched.
  uint32_t room =
      arrays.baseEntryCount < kMaxBoneDataEntries ? kMaxBoneDataEntries - arrays.baseEntryCount : 0;
  state.appendedEntryList.donorIndices = Table<uint32_t>(std::min(arrays.donorEntryCount, room));
  state.appendedEntryList.count = 0;
  if (!optimize) return;
  state.entryIndex.SetKey(key);
  EntrySource source = SourceOf(arrays);
  state.entryIndex.Reserve(arrays.baseEntryCount, source);
  auto entryAt = [&](size_t k) { return arrays.baseEntries + k * kBoneDataEntrySize; };
  LookUpInOrder(arrays.baseEntryCount, arrays, state, entryAt, [&](size_t k, uint64_t hash) {
    state.entryIndex.FindOrAdd(entryAt(k), hash, static_cast<uint32_t>(k), source);
    return true;
  });
}

RemapResult RemapFrames(const uint8_t* records, uint32_t count, uint32_t fields,
                        uint64_t firstFrame, const BoneArrays& arrays, RemapState& state) {
  size_t frameBytes = size_t{fields} * kFrameFieldSize;
  state.firstUses.clear();
  state.firstUsesThroughFrame.clear();
  RemapResult result;
  if (count > 0) PrefetchSlots(records, fields, state.remapTable);
  while (result.framesDone < count) {
    const uint8_t* record = records + result.framesDone * frameBytes;
    if (result.framesDone + 1 < count) PrefetchSlots(record + frameBytes, fields, state.remapTable);
    result.failure = NoteFirstUses(record, fields, firstFrame + result.framesDone, arrays, state);
    state.firstUsesThroughFrame.push_back(state.firstUses.size());
    if (result.failure) break;
    ++result.framesDone;
  }
  if (!state.optimize) return result;
  size_t resolved = ResolveFirstUses(arrays, state);
  if (resolved < state.firstUses.size()) {
    // The frame that first uses the index that does not fit fails, before any later field.
    const std::vector<size_t>& through = state.firstUsesThroughFrame;
    auto frame = std::upper_bound(through.begin(), through.end(), resolved) - through.begin();
    result = {static_cast<uint32_t>(frame), TooLarge{}};
  }
  return result;
}

void RewriteFrames(uint8_t* records, uint32_t count, uint32_t fields,
                   const RemapTable& remapTable) {
  size_t frameBytes = size_t{fields} * kFrameFieldSize;
  // The remap slots of the next frame are on their way while this one is rewritten.
  if (count > 0) PrefetchSlots(records, fields, remapTable);
  for (uint32_t f = 0; f < count; ++f) {
    if (f + 1 < count) PrefetchSlots(records + (f + 1) * frameBytes, fields, remapTable);
    uint8_t* record = records + f * frameBytes;
    for (uint32_t j = 0; j < fields; ++j) {
      uint8_t* field = record + size_t{j} * kFrameFieldSize;
      StoreU24(field, remapTable[LoadU24(field)]);
    }
  }
}

}  // namespace bonesplice
