#include "merge/entry_index.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
  while (Crowded(count, capacity)) capacity *= 2;
  if (capacity > capacity_) Rehash(capacity, source);
}

void EntryIndex::Rehash(size_t capacity, const EntrySource& source) {
  std::vector<uint32_t> indices;
  indices.reserve(used_);
  for (size_t slot = 0; slot < capacity_; ++slot) {
    if (slots_[slot] != kEmptySlot) indices.push_back(slots_[slot] & kIndexMask);
  }
  for (const auto& entry : overflow_) indices.push_back(entry.second);
  overflow_.clear();

  platform::LargeArray<uint32_t> slots(capacity);
  std::memset(slots.data(), 0xFF, capacity * sizeof(uint32_t));
  slots_ = std::move(slots);
  capacity_ = capacity;
  used_ = 0;
  for (uint32_t index : indices) {
    const uint8_t* entry = EntryBytes(source, index);
    Insert(entry, Hash(entry), index);
  }
}

void EntryIndex::Insert(const uint8_t* entry, uint64_t hash, uint32_t index) {
  size_t mask = capacity_ - 1;
  size_t slot = HomeSlot(hash);
  for (size_t probe = 0; probe < kMaxProbe; ++probe) {
    if (slots_[slot] == kEmptySlot) {
      slots_[slot] = TagOf(hash) | index;
      ++used_;
      return;
    }
    slot = (slot + 1) & mask;
  }
  Bytes bytes;
  std::memcpy(bytes.data(), entry, bytes.size());
  overflow_.emplace(bytes, index);
  ++used_;
}

uint32_t EntryIndex::FindOrAdd(const uint8_t* entry, uint64_t hash, uint32_t candidate,
                               const EntrySource& source) {
  // Grow before probing, so that only entries already in source are rehashed.
  if (capacity_ == 0 || Crowded(used_ + 1, capacity_)) {
    Rehash(capacity_ == 0 ? kMinCapacity : 2 * capacity_, source);
  }
  uint32_t tag = TagOf(hash);
  size_t mask = capacity_ - 1;
  size_t slot = HomeSlot(hash);
  size_t probe = 0;
  for (; probe < kMaxProbe; ++probe) {
    uint32_t value = slots_[slot];
    if (value == kEmptySlot) break;
    if ((value & kTagMask) == tag) {
      ++comparisons_;
      if (std::memcmp(EntryBytes(source, value & kIndexMask), entry, kBoneDataEntrySize) == 0) {
        return value & kIndexMask;
      }
    }
    slot = (slot + 1) & mask;
  }
  // An entry goes to the map only when the slots of its probe are all taken, and slots are
  // never freed: so an empty slot on the way means the entry is not in the map either.
  if (probe == kMaxProbe) {
    Bytes bytes;
    std::memcpy(bytes.data(), entry, bytes.size());
    auto found = overflow_.find(bytes);
    if (found != overflow_.end()) return found->second;
  }
  // No frame field can hold an index of 24 bits or more: such a candidate is answered, and the
  // merge refuses it, but it is not recorded.
  if (candidate >= kIndexLimit) return candidate;
  if (probe < kMaxProbe) {
    slots_[slot] = tag | candidate;
    ++used_;
  } else {
    Bytes bytes;
    std::memcpy(bytes.data(), entry, bytes.size());
    overflow_.emplace(bytes, candidate);
    ++used_;
  }
  return candidate;
}

}  // namespace bonesplice
