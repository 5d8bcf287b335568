#include "merge/share.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "platform/compiler.h"

namespace bonesplice {
namespace {

// Entries a partition holds on average: its table of twice as many slots fits the cache.
constexpr uint64_t kEntriesPerPartition = 8192;
// The most slots a probe visits before it turns to the partition's ordered map.
constexpr size_t kMaxProbe = 64;
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

// Base and donor entries numbered one after the other: entry r is base entry r below the
// base's count, donor entry r - count above it. Ordering by r puts every base entry before
// every donor entry and each side in its own order, which is the order in which they win.
struct Entries {
  const BoneArrays& arrays;
  uint32_t donorCount;  // donor entries that a slot exists for

  uint32_t size() const { return arrays.baseEntryCount + donorCount; }
  bool IsBase(uint32_t r) const { return r < arrays.baseEntryCount; }
  const uint8_t* Bytes(uint32_t r) const {
    return IsBase(r) ? arrays.baseEntries + size_t{r} * kBoneDataEntrySize
                     : arrays.donorEntries + size_t{r - arrays.baseEntryCount} * kBoneDataEntrySize;
  }
};

// One entry filed in its partition: its number and 32 bits of its hash.
struct Filed {
  uint32_t entry;
  uint32_t fragment;
};

bool SameBytes(const uint8_t* a, const uint8_t* b) {
  return std::equal(a, a + kBoneDataEntrySize, b);
}

// Records in the donor's remap slots what it means that entry has the same bytes as earlier,
// an entry filed before it.
void NoteEqual(uint32_t entry, uint32_t earlier, const Entries& entries, RemapTable& remapTable) {
  if (entries.IsBase(entry)) return;  // the first base entry of equal ones keeps its place
  uint32_t donorIndex = entry - entries.arrays.baseEntryCount;
  remapTable[donorIndex] = entries.IsBase(earlier)
                               ? kSameAsOutput | earlier
                               : kSameAs | (earlier - entries.arrays.baseEntryCount);
}

// The table of one partition: positions in its filed entries, each probed for from the slot its
// fragment names.
class PartitionTable {
 public:
  static constexpr uint32_t kInserted = kEmptySlot;
  static constexpr uint32_t kProbeFull = kEmptySlot - 1;

  explicit PartitionTable(size_t count) {
    while (capacity_ < 2 * count) capacity_ *= 2;
    slots_.assign(capacity_, kEmptySlot);
  }

  // The position of the first entry held in the probe of filed entry i that same(position)
  // accepts among those of equal fragments; else i is recorded in the first empty slot
  // (kInserted), or the probe found none within kMaxProbe slots (kProbeFull).
  template <typename Same>
  uint32_t Probe(const Filed* filed, size_t i, Same same) {
    size_t slot = filed[i].fragment & (capacity_ - 1);
    for (size_t probe = 0; probe < kMaxProbe; ++probe, slot = (slot + 1) & (capacity_ - 1)) {
      uint32_t held = slots_[slot];
      if (held == kEmptySlot) {
        slots_[slot] = static_cast<uint32_t>(i);
        return kInserted;
      }
      if (filed[held].fragment == filed[i].fragment && same(held)) return held;
    }
    return kProbeFull;
  }

 private:
  size_t capacity_ = 16;
  std::vector<uint32_t> slots_;
};

// Finds, for each filed entry of one partition in order, the first earlier one with the same
// bytes, comparing bytes wherever 32 bits of the hash agree, and records what that means.
void SharePartitionExactly(const Filed* filed, size_t count, const Entries& entries,
                           RemapTable& remapTable) {
  PartitionTable table(count);
  std::map<std::array<uint8_t, kBoneDataEntrySize>, uint32_t> overflow;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* bytes = entries.Bytes(filed[i].entry);
    uint32_t held = table.Probe(filed, i, [&](uint32_t position) {
      return SameBytes(entries.Bytes(filed[position].entry), bytes);
    });
    uint32_t earlier = held < PartitionTable::kProbeFull ? filed[held].entry : kEmptySlot;
    if (held == PartitionTable::kProbeFull) {
      // Every slot of the probe is taken, and slots are never freed: the map holds the rest.
      std::array<uint8_t, kBoneDataEntrySize> key;
      std::memcpy(key.data(), bytes, kBoneDataEntrySize);
      auto [found, added] = overflow.emplace(key, filed[i].entry);
      if (!added) earlier = found->second;
    }
    if (earlier != kEmptySlot) NoteEqual(filed[i].entry, earlier, entries, remapTable);
  }
}

// The same result as SharePartitionExactly, found faster where it can be: entries whose 32
// hash bits agree with an earlier one's are taken for equal, which decides every later entry
// without reading any bytes, and all those pairs are then compared at once, so that their
// reads from memory overlap. Should one pair differ, or a probe run long, the partition is
// done exactly instead.
void SharePartition(const Filed* filed, size_t count, const Entries& entries,
                    RemapTable& remapTable) {
  constexpr size_t kCompareAhead = 8;
  PartitionTable table(count);
  std::vector<std::pair<uint32_t, uint32_t>> equal;  // (position, earlier position)
  for (size_t i = 0; i < count; ++i) {
    uint32_t held = table.Probe(filed, i, [](uint32_t) { return true; });
    if (held == PartitionTable::kProbeFull) {
      return SharePartitionExactly(filed, count, entries, remapTable);
    }
    if (held != PartitionTable::kInserted) equal.emplace_back(static_cast<uint32_t>(i), held);
  }
  for (size_t k = 0; k < equal.size(); ++k) {
    if (k + kCompareAhead < equal.size()) {
      BONESPLICE_PREFETCH(entries.Bytes(filed[equal[k + kCompareAhead].first].entry));
      BONESPLICE_PREFETCH(entries.Bytes(filed[equal[k + kCompareAhead].second].entry));
    }
    if (!SameBytes(entries.Bytes(filed[equal[k].first].entry),
                   entries.Bytes(filed[equal[k].second].entry))) {
      return SharePartitionExactly(filed, count, entries, remapTable);
    }
  }
  for (const auto& [position, earlier] : equal) {
    NoteEqual(filed[position].entry, filed[earlier].entry, entries, remapTable);
  }
}

}  // namespace

void ShareEqualEntries(const BoneArrays& arrays, HashKey key, const Workers& workers,
                       RemapTable& remapTable) {
  Entries entries{arrays, static_cast<uint32_t>(remapTable.size())};
  uint32_t total = entries.size();
  if (entries.donorCount == 0) return;
  int bits = 0;
  while ((uint64_t{1} << bits) * kEntriesPerPartition < total) ++bits;
  size_t partitions = size_t{1} << bits;
  EntryHash hash(key);
  auto partitionOf = [&](uint64_t h) {
    return bits == 0 ? 0 : static_cast<size_t>(h >> (64 - bits));
  };

  // The entries in consecutive slices, each filed by one worker in its own share of every
  // partition, so that a partition holds its entries in increasing order.
  size_t sliceCount = std::min<size_t>(4 * workers.count(), (total + 65535) / 65536);
  uint32_t sliceSize = static_cast<uint32_t>((total + sliceCount - 1) / sliceCount);
  std::vector<uint32_t> counts(sliceCount * partitions, 0);
  workers.ForEach(sliceCount, [&](size_t s, unsigned) {
    uint32_t* count = &counts[s * partitions];
    uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(total, uint64_t{sliceSize} * (s + 1)));
    for (uint32_t r = static_cast<uint32_t>(s * sliceSize); r < end; ++r) {
      ++count[partitionOf(hash(entries.Bytes(r)))];
    }
  });
  std::vector<uint32_t> partitionStart(partitions + 1, 0);
  uint32_t running = 0;
  for (size_t p = 0; p < partitions; ++p) {
    partitionStart[p] = running;
    for (size_t s = 0; s < sliceCount; ++s) {
      uint32_t here = counts[s * partitions + p];
      counts[s * partitions + p] = running;
      running += here;
    }
  }
  partitionStart[partitions] = running;

  Table<Filed> filed(total);
  workers.ForEach(sliceCount, [&](size_t s, unsigned) {
    uint32_t* next = &counts[s * partitions];
    uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(total, uint64_t{sliceSize} * (s + 1)));
    for (uint32_t r = static_cast<uint32_t>(s * sliceSize); r < end; ++r) {
      uint64_t h = hash(entries.Bytes(r));
      filed[next[partitionOf(h)]++] = {r, static_cast<uint32_t>(h)};
    }
  });
  workers.ForEach(partitions, [&](size_t p, unsigned) {
    SharePartition(filed.data() + partitionStart[p], partitionStart[p + 1] - partitionStart[p],
                   entries, remapTable);
  });
}

}  // namespace bonesplice
