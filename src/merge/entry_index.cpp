#include "merge/entry_index.h"

#include <cstring>

namespace bonesplice {
namespace {

constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
constexpr size_t kMinCapacity = 1024;

uint64_t HashEntry(const uint8_t* p) {
  uint64_t low = 0;
  uint64_t high = 0;
  for (int i = 7; i >= 0; --i) low = low << 8 | p[i];
  for (int i = 13; i >= 8; --i) high = high << 8 | p[i];
  uint64_t h = low * 0x9E3779B97F4A7C15ull ^ (high + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 31;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
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
  for (uint32_t index : old) {
    if (index == kEmptySlot) continue;
    size_t slot = static_cast<size_t>(HashEntry(EntryBytes(source, index))) & mask;
    while (slots_[slot] != kEmptySlot) slot = (slot + 1) & mask;
    slots_[slot] = index;
  }
}

uint32_t EntryIndex::FindOrAdd(const uint8_t* entry, uint32_t candidate,
                               const EntrySource& source) {
  // Grow before probing, so that only entries already in source are rehashed.
  if (2 * (used_ + 1) > slots_.size()) {
    Rehash(slots_.empty() ? kMinCapacity : 2 * slots_.size(), source);
  }
  size_t mask = slots_.size() - 1;
  size_t slot = static_cast<size_t>(HashEntry(entry)) & mask;
  while (slots_[slot] != kEmptySlot) {
    uint32_t index = slots_[slot];
    if (std::memcmp(EntryBytes(source, index), entry, kBoneDataEntrySize) == 0) return index;
    slot = (slot + 1) & mask;
  }
  slots_[slot] = candidate;
  ++used_;
  return candidate;
}

}  // namespace bonesplice
