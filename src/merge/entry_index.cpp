#include "merge/entry_index.h"

#include <cstring>

namespace bonesplice {
namespace {

constexpr size_t kMinCapacity = 1024;

// The table grows once more than three quarters of its slots are used: thanks to the tags a
// long probe run costs little, and 16 slots share a cache line.
bool Crowded(size_t used, size_t capacity) {
  return 4 * used > 3 * capacity;
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
    size_t slot = HomeSlot(Hash(EntryBytes(source, value & kIndexMask)));
    while (slots_[slot] != kEmptySlot) slot = (slot + 1) & mask;
    slots_[slot] = value;
  }
}

uint32_t EntryIndex::FindOrAdd(const uint8_t* entry, uint32_t candidate,
                               const EntrySource& source) {
  return FindOrAdd(entry, Hash(entry), candidate, source);
}

uint32_t EntryIndex::FindOrAdd(const uint8_t* entry, uint64_t hash, uint32_t candidate,
                               const EntrySource& source) {
  // Grow before probing, so that only entries already in source are rehashed.
  if (slots_.empty() || Crowded(used_ + 1, slots_.size())) {
    Rehash(slots_.empty() ? kMinCapacity : 2 * slots_.size(), source);
  }
  uint32_t tag = TagOf(hash);
  size_t mask = slots_.size() - 1;
  size_t slot = HomeSlot(hash);
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
