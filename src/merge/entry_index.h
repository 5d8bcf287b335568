// Finds byte-identical bone data entries among the output's entries in time independent of
// their number: an open-addressing hash table of output indices keyed by the entries' bytes.
//
// Its cost is bounded whatever the bytes are. The hash is keyed with a value drawn anew for
// every merge, so that a file cannot be written to make its entries collide; and a probe looks
// at no more than kMaxProbe slots before it turns to an ordered map, so that even entries that
// do collide cost O(log n) comparisons each, not O(n).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>

#include "format/header.h"
#include "merge/table.h"
#include "platform/compiler.h"

namespace bonesplice {

// An entry the index records: a base entry by its position, or a donor entry by its donor
// index with kDonorEntry set. Both fit 24 bits, so a reference fits 25.
using EntryRef = uint32_t;
inline constexpr EntryRef kDonorEntry = EntryRef{1} << 24;

// Where the bytes of a reference live.
struct EntrySource {
  const uint8_t* baseEntries = nullptr;
  const uint8_t* donorEntries = nullptr;
};

inline const uint8_t* EntryBytes(const EntrySource& source, EntryRef ref) {
  const uint8_t* entries = (ref & kDonorEntry) != 0 ? source.donorEntries : source.baseEntries;
  return entries + size_t{ref & (kDonorEntry - 1)} * kBoneDataEntrySize;
}

// The secret of the hash; HashKey{} gives the plain, public function.
struct HashKey {
  uint64_t low = 0;
  uint64_t high = 0;
};

class EntryIndex {
 public:
  // The most slots a probe looks at before it turns to the ordered map.
  static constexpr size_t kMaxProbe = 128;

  EntryIndex() = default;
  EntryIndex(const EntryIndex&) = delete;
  EntryIndex& operator=(const EntryIndex&) = delete;

  // Sets the hash key; only before the first entry is added.
  void SetKey(HashKey key) { key_ = key; }
  // Makes room for count entries without growing.
  void Reserve(size_t count, const EntrySource& source);
  // Returns the entry recorded with the same 14 bytes as entry; when there is none, records
  // candidate, whose bytes are entry's, and returns it. hash is Hash(entry).
  EntryRef FindOrAdd(const uint8_t* entry, uint64_t hash, EntryRef candidate,
                     const EntrySource& source);

  // The two 8-byte words of the entry (bytes 0 to 7, and 8 to 13), each mixed with its half of
  // the key, multiplied and folded.
  uint64_t Hash(const uint8_t* entry) const {
    uint64_t low = 0;
    uint64_t high = 0;
    std::memcpy(&low, entry, sizeof low);
    std::memcpy(&high, entry + kBoneDataEntrySize - sizeof high, sizeof high);
    high >>= 16;  // drop bytes 6 and 7, which low holds
    uint64_t h =
        (low ^ key_.low) * kMultiplierLow ^ ((high ^ key_.high) + kAddend) * kMultiplierHigh;
    h ^= h >> 31;
    h *= kFold;
    h ^= h >> 32;
    return h;
  }
  static constexpr uint64_t kMultiplierLow = 0x9E3779B97F4A7C15ull;
  static constexpr uint64_t kMultiplierHigh = 0xC2B2AE3D27D4EB4Full;
  static constexpr uint64_t kAddend = 0x632BE59BD9B4E019ull;
  static constexpr uint64_t kFold = 0xD6E8FEB86659FD93ull;

  // Hints for a FindOrAdd of an entry with this hash a few lookups later, so that the memory
  // reads of several lookups overlap: Prefetch starts loading the slot where its probe begins.
  // Neither hint changes the table.
  void Prefetch(uint64_t hash) const {
    if (capacity_ != 0) BONESPLICE_PREFETCH(&slots_[HomeSlot(hash)]);
  }
  // PrefetchMatch, called once that slot has arrived, starts loading the bytes of the entry
  // recorded there when it may be the equal one, and returns that entry (kNoEntry if none).
  static constexpr EntryRef kNoEntry = 0xFFFFFFFFu;
  EntryRef PrefetchMatch(uint64_t hash, const EntrySource& source) const {
    if (capacity_ == 0) return kNoEntry;
    uint32_t value = slots_[HomeSlot(hash)];
    if (value == kEmptySlot || (value & kTagMask) != TagOf(hash)) return kNoEntry;
    BONESPLICE_PREFETCH(EntryBytes(source, value & kRefMask));
    return value & kRefMask;
  }

 private:
  // A used slot holds a reference in its low 25 bits and 7 bits of its entry's hash above
  // them, so that a probe passes over the slots of other entries without reading their bytes.
  // The tag is never 0x7F, which keeps every used slot apart from kEmptySlot.
  static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
  static constexpr uint32_t kRefBits = 25;
  static constexpr uint32_t kRefMask = (uint32_t{1} << kRefBits) - 1;
  static constexpr uint32_t kTagMask = ~kRefMask;

  using Bytes = std::array<uint8_t, kBoneDataEntrySize>;

  static uint32_t TagOf(uint64_t hash) {
    uint32_t tag = static_cast<uint32_t>(hash >> 57);
    return (tag == 0x7F ? 0x7Eu : tag) << kRefBits;
  }
  size_t HomeSlot(uint64_t hash) const { return static_cast<size_t>(hash) & (capacity_ - 1); }
  // Records an entry known to be absent: in the first empty slot of its probe, else the map.
  void Insert(const uint8_t* entry, uint64_t hash, EntryRef ref);
  void Rehash(size_t capacity, const EntrySource& source);

  HashKey key_;
  Table<uint32_t> slots_;
  size_t capacity_ = 0;
  size_t used_ = 0;                     // entries recorded, in the slots and in the map
  std::map<Bytes, EntryRef> overflow_;  // std::array compares its bytes in order
};

}  // namespace bonesplice
