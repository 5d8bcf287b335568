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
  std::vector<EntryRef> refs;
  refs.reserve(used_);
  for (size_t slot = 0; slot < capacity_; ++slot) {
    if (slots_[slot] != kEmptySlot) refs.push_back(slots_[slot] & kRefMask);
  }
  for (const auto& entry : overflow_) refs.push_back(entry.second);
  overflow_.clear();

  Table<uint32_t> slots(capacity);
  std::memset(slots.data(), 0xFF, capacity * sizeof(uint32_t));
  slots_ = std::move(slots);
  capacity_ = capacity;
  used_ = 0;
  for (EntryRef ref : refs) {
    const uint8_t* entry = EntryBytes(source, ref);
    Insert(entry, Hash(entry), ref);
  }
}

void EntryIndex::Insert(const uint8_t* entry, uint64_t hash, EntryRef ref) {
  size_t mask = capacity_ - 1;
  size_t slot = HomeSlot(hash);
  for (size_t probe = 0; probe < kMaxProbe; ++probe) {
    if (slots_[slot] == kEmptySlot) {
      slots_[slot] = TagOf(hash) | ref;
      ++used_;
      return;
    }
    slot = (slot + 1) & mask;
  }
  Bytes bytes;
  std::memcpy(bytes.data(), entry, bytes.size());
  overflow_.emplace(bytes, ref);
  ++used_;
}

EntryRef EntryIndex::FindOrAdd(const uint8_t* entry, uint64_t hash, EntryRef candidate,
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
      if (std::memcmp(EntryBytes(source, value & kRefMask), entry, kBoneDataEntrySize) == 0) {
        return value & kRefMask;
      }
    }
    slot = (slot + 1) & mask;
  }
  if (probe < kMaxProbe) {
    slots_[slot] = tag | candidate;
    ++used_;
    return candidate;
  }
  // An entry goes to the map only when the slots of its probe are all taken, and slots are
  // never freed: so an empty slot on the way means the entry is not in the map either.
  Bytes bytes;
  std::memcpy(bytes.data(), entry, bytes.size());
  auto [found, added] = overflow_.emplace(bytes, candidate);
  if (added) ++used_;
  return found->second;
}

}  // namespace bonesplice
