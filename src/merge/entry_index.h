// Finds byte-identical bone data entries among the output's entries in time independent of
// their number: an open-addressing hash table of output indices keyed by the entries' bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "format/header.h"

namespace bonesplice {

// Where the bytes of an output index live: below baseCount in the base bone array, from
// baseCount on among the appended entries.
struct EntrySource {
  const uint8_t* baseEntries = nullptr;
  uint32_t baseCount = 0;
  const uint8_t* appendedEntries = nullptr;
};

inline const uint8_t* EntryBytes(const EntrySource& source, uint32_t outputIndex) {
  if (outputIndex < source.baseCount) {
    return source.baseEntries + size_t{outputIndex} * kBoneDataEntrySize;
  }
  return source.appendedEntries + size_t{outputIndex - source.baseCount} * kBoneDataEntrySize;
}

class EntryIndex {
 public:
  // Makes room for count entries without growing.
  void Reserve(size_t count, const EntrySource& source);
  // Returns the output index recorded for an entry with the same 14 bytes as entry; when there
  // is none, returns candidate and records it for these bytes if it is below 2^24 (an index
  // the output can hold; a larger one makes the merge fail anyway). The bytes of candidate
  // need not be in source yet.
  uint32_t FindOrAdd(const uint8_t* entry, uint32_t candidate, const EntrySource& source);
  // The same with entry's hash, as Hash gives it, computed beforehand.
  uint32_t FindOrAdd(const uint8_t* entry, uint64_t hash, uint32_t candidate,
                     const EntrySource& source);
  // Any consistent function of the 14 bytes serves; the two overlapping 8-byte words are
  // loaded directly, without a detour through the stack that would hold up the next lookup.
  static uint64_t Hash(const uint8_t* entry) {
    uint64_t low = 0;
    uint64_t high = 0;
    std::memcpy(&low, entry, sizeof low);
    std::memcpy(&high, entry + kBoneDataEntrySize - sizeof high, sizeof high);
    uint64_t h =
        low * 0x9E3779B97F4A7C15ull ^ (high + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 31;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return h;
  }
  // Hints for a FindOrAdd of an entry with this hash a few lookups later, so that the memory
  // reads of several lookups overlap: Prefetch starts loading the slot where its probe begins;
  // PrefetchMatch, called once that slot has arrived, starts loading the bytes of the entry
  // recorded there when it may be the equal one. Neither changes the table.
  void Prefetch(uint64_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[HomeSlot(hash)]);
  }
  void PrefetchMatch(uint64_t hash, const EntrySource& source) const {
    if (slots_.empty()) return;
    uint32_t value = slots_[HomeSlot(hash)];
    if (value != kEmptySlot && (value & kTagMask) == TagOf(hash)) {
      __builtin_prefetch(EntryBytes(source, value & kIndexMask));
    }
  }
  size_t size() const { return used_; }

 private:
  // A used slot holds an output index in its low 24 bits and 8 bits of its entry's hash above
  // them, so that a probe passes over the slots of other entries without reading their bytes.
  // The tag is never 0xFF, which keeps every used slot apart from kEmptySlot.
  static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
  static constexpr uint32_t kIndexBits = 24;
  static constexpr uint32_t kIndexMask = (uint32_t{1} << kIndexBits) - 1;
  static constexpr uint32_t kTagMask = ~kIndexMask;
  static constexpr uint32_t kIndexLimit = uint32_t{1} << kIndexBits;

  static uint32_t TagOf(uint64_t hash) {
    uint32_t tag = static_cast<uint32_t>(hash >> 56);
    return (tag == 0xFF ? 0xFEu : tag) << kIndexBits;
  }
  size_t HomeSlot(uint64_t hash) const { return static_cast<size_t>(hash) & (slots_.size() - 1); }
  void Rehash(size_t capacity, const EntrySource& source);

  std::vector<uint32_t> slots_;
  size_t used_ = 0;
};

}  // namespace bonesplice
