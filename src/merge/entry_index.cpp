#include "merge/entry_index.h"

#include <cstring>

namespace bonesplice {
namespace {

constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
constexpr size_t kMinCapacity = 1024;

// A used slot holds an output index in its low 24 bits and 8 bits of its entry's hash above
// them, so that a probe passes over the slots of other entries without reading their bytes.
// The tag is never 0xFF, which keeps every used slot apart from kEmptySlot.
constexpr uint32_t kIndexBits = 24;
constexpr uint32_t kIndexMask = (uint32_t{1} << kIndexBits) - 1;
constexpr uint32_t kTagMask = ~kIndexMask;
constexpr uint32_t kIndexLimit = uint32_t{1} << kIndexBits;

// The table grows once more than three quarters of its slots are used: thanks to the tags a
// long probe run costs little, and 16 slots share a cache line.
bool Crowded(size_t used, size_t capacity) {
  return 4 * used > 3 * capacity;
}

// Any consistent function of the 14 bytes serves; the two overlapping 8-byte words are loaded
// directly, without a detour through the stack that would hold up the next lookup.
uint64_t HashEntry(const uint8_t* p) {
  uint64_t low = 0;
  uint64_t high = 0;
  std::memcpy(&low, p, sizeof low);
  std::memcpy(&high, p + kBoneDataEntrySize - sizeof high, sizeof high);
  uint64_t h = low * 0x9E3779B97F4A7C15ull ^ (high + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 31;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

uint32_t TagOf(uint64_t hash) {
  uint32_t tag = static_cast<uint32_t>(hash >> 56);
  return (tag == 0xFF ? 0xFEu : tag) << kIndexBits;
}

}  // namespace

void EntryIndex::Reserve(size_t count, const EntrySource& source) {
  size_t capacity = kMinCapacity;
  while (capacity < 2 * count) capacity *= 2;
  if (capacity > slots_.size()) Rehash(capacity, source);
}

void EntryIndex::Rehash(size_t capacity, const EntrySource& source) {
  std::vector<uint32_t> old(capacity, kEmptySlot);
  old.swap(slots_);
  size_t mask = capacity - 1;
  for (uint32_t value : old) {
    if (value == kEmptySlot) continue;
    size_t slot = static_cast<size_t>(HashEntry(EntryBytes(source, value & kIndexMask))) & mask;
    while (slots_[slot] != kEmptySlot) slot = (slot + 1) & mask;
    slots_[slot] = value;
  }
}

uint32_t EntryIndex::FindOrAdd(const uint8_t* entry, uint32_t candidate,
                               const EntrySource& source) {
  // Grow before probing, so that only entries already in source are rehashed.
  if (slots_.empty() || Crowded(used_ + 1, slots_.size())) {
    Rehash(slots_.empty() ? kMinCapacity : 2 * slots_.size(), source);
  }
  uint64_t hash = HashEntry(entry);
  uint32_t tag = TagOf(hash);
  size_t mask = slots_.size() - 1;
  size_t slot = static_cast<size_t>(hash) & mask;
  while (slots_[slot] != kEmptySlot) {
    uint32_t value = slots_[slot];
    if ((value & kTagMask) == tag &&
        std::memcmp(EntryBytes(source, value & kIndexMask), entry, kBoneDataEntrySize) == 0) {
      return value & kIndexMask;
    }
    slot = (slot + 1) & mask;
  }
  // No frame field can hold an index of 24 bits or more: such a candidate is answered, and the
  // merge refuses it, but it is not recorded.
  if (candidate >= kIndexLimit) return candidate;
  slots_[slot] = tag | candidate;
  ++used_;
  return candidate;
}

}  // namespace bonesplice
