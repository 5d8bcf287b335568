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
#include "platform/platform.h"

namespace bonesplice {

// Where the bytes of an output index live: below baseCount in the base bone array; from
// baseCount on they are donor entries, appended entry p being donor entry appended[p].
struct EntrySource {
  const uint8_t* baseEntries = nullptr;
  uint32_t baseCount = 0;
  const uint8_t* donorEntries = nullptr;
  const uint32_t* appended = nullptr;
};

inline const uint8_t* EntryBytes(const EntrySource& source, uint32_t outputIndex) {
  if (outputIndex < source.baseCount) {
    return source.baseEntries + size_t{outputIndex} * kBoneDataEntrySize;
  }
  return source.donorEntries +
         size_t{source.appended[outputIndex - source.baseCount]} * kBoneDataEntrySize;
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
  // Returns the output index recorded for an entry with the same 14 bytes as entry; when there
  // is none, returns candidate and records it for these bytes if it is below 2^24 (an index
  // the output can hold; a larger one makes the merge fail anyway). The bytes of candidate
  // need not be in source yet. hash is Hash(entry).
  uint32_t FindOrAdd(const uint8_t* entry, uint64_t hash, uint32_t candidate,
                     const EntrySource& source);

  // The two 8-byte words of the entry (bytes 0 to 7, and 8 to 13), each mixed with its half of
  // the key, multiplied and folded.
  uint64_t Hash(const uint8_t* entry) const {
    uint64_t low = 0;
    uint64_t high = 0;
    std::memcpy(&low, entry, sizeof low);
    std::memcpy(&high, entry + kBoneDataEntrySize - sizeof high, sizeof high);
    high >>= 16;  // drop bytes 6 and 7, which low holds
    uint64_t h = (low ^ key_.low) * kMultiplierLow ^ ((high ^ key_.high) + kAddend) * kMultiplierHigh;
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
  // reads of several lookups overlap: Prefetch starts loading the slot where its probe begins;
  // PrefetchMatch, called once that slot has arrived, starts loading the bytes of the entry
  // recorded there when it may be the equal one. Neither changes the table.
  void Prefetch(uint64_t hash) const {
    if (capacity_ != 0) BONESPLICE_PREFETCH(&slots_[HomeSlot(hash)]);
  }
  void PrefetchMatch(uint64_t hash, const EntrySource& source) const {
    if (capacity_ == 0) return;
    uint32_t value = slots_[HomeSlot(hash)];
    if (value != kEmptySlot && (value & kTagMask) == TagOf(hash)) {
      BONESPLICE_PREFETCH(EntryBytes(source, value & kIndexMask));
    }
  }

  // How many times two entries' bytes were compared so far: the work the lookups cost.
  uint64_t comparisons() const { return comparisons_; }

 private:
  // A used slot holds an output index in its low 24 bits and 8 bits of its entry's hash above
  // them, so that a probe passes over the slots of other entries without reading their bytes.
  // The tag is never 0xFF, which keeps every used slot apart from kEmptySlot.
  static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
  static constexpr uint32_t kIndexBits = 24;
  static constexpr uint32_t kIndexMask = (uint32_t{1} << kIndexBits) - 1;
  static constexpr uint32_t kTagMask = ~kIndexMask;
  static constexpr uint32_t kIndexLimit = uint32_t{1} << kIndexBits;

  using Bytes = std::array<uint8_t, kBoneDataEntrySize>;
  struct BytesBefore {
    uint64_t* comparisons;
    bool operator()(const Bytes& a, const Bytes& b) const {
      ++*comparisons;
      return std::memcmp(a.data(), b.data(), a.size()) < 0;
    }
  };

  static uint32_t TagOf(uint64_t hash) {
    uint32_t tag = static_cast<uint32_t>(hash >> 56);
    return (tag == 0xFF ? 0xFEu : tag) << kIndexBits;
  }
  size_t HomeSlot(uint64_t hash) const { return static_cast<size_t>(hash) & (capacity_ - 1); }
  // Records an entry known to be absent: in the first empty slot of its probe, else the map.
  void Insert(const uint8_t* entry, uint64_t hash, uint32_t index);
  void Rehash(size_t capacity, const EntrySource& source);

  HashKey key_;
  platform::LargeArray<uint32_t> slots_;
  size_t capacity_ = 0;
  size_t used_ = 0;  // entries recorded, in the slots and in the map
  uint64_t comparisons_ = 0;
  std::map<Bytes, uint32_t, BytesBefore> overflow_{BytesBefore{&comparisons_}};
};

}  // namespace bonesplice
