// Finds byte-identical bone data entries among the output's entries in time independent of
// their number: an open-addressing hash table of output indices keyed by the entries' bytes.
#pragma once

#include <cstdint>
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
  size_t size() const { return used_; }

 private:
  void Rehash(size_t capacity, const EntrySource& source);

  std::vector<uint32_t> slots_;
  size_t used_ = 0;
};

}  // namespace bonesplice
