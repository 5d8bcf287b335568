// The entry index's bound: entries crafted to collide under a known key cost a bounded number
// of comparisons each, and still find exactly their first equal.
#include "merge/entry_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "glagen/sample.h"

namespace bonesplice {
namespace {

struct Indexed {
  uint64_t comparisons = 0;
  bool allFound = true;
};

// Adds every entry of bytes, then each entry again with another candidate, under key; the
// second round must answer each entry's first position.
Indexed AddTwice(const std::vector<uint8_t>& bytes, HashKey key) {
  EntryIndex index;
  index.SetKey(key);
  EntrySource source{bytes.data(), nullptr};
  uint32_t count = static_cast<uint32_t>(bytes.size() / kBoneDataEntrySize);
  Indexed result;
  for (int round = 0; round < 2; ++round) {
    for (uint32_t k = 0; k < count; ++k) {
      const uint8_t* entry = bytes.data() + size_t{k} * kBoneDataEntrySize;
      EntryRef candidate = round == 0 ? k : k + count;
      EntryRef found = index.FindOrAdd(entry, index.Hash(entry), candidate, source);
      result.allFound = result.allFound && found == k;
    }
  }
  result.comparisons = index.comparisons();
  return result;
}

TEST(EntryIndex, EntriesCraftedToCollideCostBoundedComparisons) {
  constexpr uint32_t kCount = 20000;
  std::vector<uint8_t> bytes;
  for (const glagen::Entry& entry : glagen::CollidingEntries(3, kCount)) {
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  // Under the key they were crafted for, every entry meets all the others in its probe: without
  // the bound that would be kCount^2 comparisons.
  Indexed crafted = AddTwice(bytes, HashKey{});
  EXPECT_TRUE(crafted.allFound);
  double perEntry = EntryIndex::kMaxProbe + 4 * std::log2(double{kCount});
  EXPECT_LE(crafted.comparisons, static_cast<uint64_t>(2 * kCount * perEntry));
  EXPECT_GT(crafted.comparisons, uint64_t{2} * kCount * EntryIndex::kMaxProbe / 2)
      << "the entries must collide under the key they were made for";
  // Under another key the same entries spread out: about one comparison each.
  Indexed keyed = AddTwice(bytes, HashKey{0x2545F4914F6CDD1Dull, 0x9E3779B97F4A7C15ull});
  EXPECT_TRUE(keyed.allFound);
  EXPECT_LE(keyed.comparisons, uint64_t{3} * kCount);
}

}  // namespace
}  // namespace bonesplice
