// The keyed hash of a 14-byte bone data entry, by which "-o" finds equal entries.
#pragma once

#include <cstdint>
#include <cstring>

#include "format/header.h"

namespace bonesplice {

// The secret of the hash, drawn anew for every merge so that no file can be written to make
// its entries collide; HashKey{} gives the plain, public function.
struct HashKey {
  uint64_t low = 0;
  uint64_t high = 0;
};

// The two 8-byte words of the entry (bytes 0 to 7, and 8 to 13), each mixed with its half of
// the key, multiplied and folded.
class EntryHash {
 public:
  static constexpr uint64_t kMultiplierLow = 0x9E3779B97F4A7C15ull;
  static constexpr uint64_t kMultiplierHigh = 0xC2B2AE3D27D4EB4Full;
  static constexpr uint64_t kAddend = 0x632BE59BD9B4E019ull;
  static constexpr uint64_t kFold = 0xD6E8FEB86659FD93ull;

  explicit EntryHash(HashKey key) : key_(key) {}

  uint64_t operator()(const uint8_t* entry) const {
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

 private:
  HashKey key_;
};

}  // namespace bonesplice
