#include "merge/remap.h"

#include <gtest/gtest.h>

#include <array>

#include "format/bytes.h"

namespace bonesplice {
namespace {

using Entry = std::array<uint8_t, kBoneDataEntrySize>;

Entry MakeEntry(uint8_t seed) {
  Entry entry;
  for (size_t i = 0; i < entry.size(); ++i) entry[i] = static_cast<uint8_t>(seed * 31 + i);
  return entry;
}

std::vector<uint8_t> Concat(const std::vector<Entry>& entries) {
  std::vector<uint8_t> bytes;
  for (const Entry& e : entries) bytes.insert(bytes.end(), e.begin(), e.end());
  return bytes;
}

// Runs donor frames (lists of donor indices, one bone per field, identical skeletons) through
// RemapFrame and keeps the rewritten frames.
struct Merge {
  std::vector<uint8_t> base;
  std::vector<uint8_t> donor;
  BoneArrays arrays;
  RemapState state;
  BoneNameMap map;
  AnimHeader donorHeader{};

  Merge(const std::vector<Entry>& baseEntries, const std::vector<Entry>& donorEntries,
        bool optimize, uint32_t bones)
      : base(Concat(baseEntries)), donor(Concat(donorEntries)) {
    arrays = {base.data(), static_cast<uint32_t>(baseEntries.size()), donor.data(),
              static_cast<uint32_t>(donorEntries.size())};
    donorHeader.boneCount = bones;
    for (uint32_t j = 0; j < bones; ++j) map.push_back({"bone" + std::to_string(j), j});
    StartRemap(state, arrays, optimize);
  }

  std::vector<uint32_t> Remap(const std::vector<uint32_t>& indices) {
    std::vector<uint8_t> frame(indices.size() * 3);
    for (size_t j = 0; j < indices.size(); ++j) StoreU24(&frame[3 * j], indices[j]);
    EXPECT_EQ(RemapFrame(frame.data(), donorHeader, map, arrays, state).status, RemapStatus::kOk);
    std::vector<uint32_t> out;
    for (size_t j = 0; j < indices.size(); ++j) out.push_back(LoadU24(&frame[3 * j]));
    return out;
  }

  std::vector<uint8_t> Appended() const { return state.appendedEntryList.bytes; }
};

std::vector<Entry> BaseEntries(size_t count) {
  std::vector<Entry> entries;
  for (size_t i = 0; i < count; ++i) entries.push_back(MakeEntry(static_cast<uint8_t>(i)));
  return entries;
}

TEST(Remap, DonorEntryEqualToABaseEntryIsSharedOnlyWhenOptimizing) {
  std::vector<Entry> base = BaseEntries(10);
  std::vector<Entry> donor = {MakeEntry(200), base[5]};
  Merge plain(base, donor, false, 1);
  EXPECT_EQ(plain.Remap({1}), (std::vector<uint32_t>{10}));
  EXPECT_EQ(plain.Appended(), Concat({base[5]}));
  Merge optimized(base, donor, true, 1);
  EXPECT_EQ(optimized.Remap({1}), (std::vector<uint32_t>{5}));
  EXPECT_TRUE(optimized.Appended().empty());
}

TEST(Remap, FirstOfTwoEqualBaseEntriesWins) {
  std::vector<Entry> base = BaseEntries(12);
  base[9] = base[3];
  Merge optimized(base, {base[3]}, true, 1);
  EXPECT_EQ(optimized.Remap({0}), (std::vector<uint32_t>{3}));
}

TEST(Remap, EqualDonorEntriesShareOneAppendedEntryWhenOptimizing) {
  std::vector<Entry> base = BaseEntries(4);
  std::vector<Entry> donor = {MakeEntry(100), MakeEntry(101), MakeEntry(100)};
  Merge plain(base, donor, false, 2);
  EXPECT_EQ(plain.Remap({0, 2}), (std::vector<uint32_t>{4, 5}));
  EXPECT_EQ(plain.Appended(), Concat({donor[0], donor[2]}));
  Merge optimized(base, donor, true, 2);
  EXPECT_EQ(optimized.Remap({0, 2}), (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(optimized.Appended(), Concat({donor[0]}));

  // Equal to a base entry as well: both take the base entry and nothing is appended.
  Merge shared(base, {base[2], MakeEntry(7), base[2]}, true, 2);
  EXPECT_EQ(shared.Remap({0, 2}), (std::vector<uint32_t>{2, 2}));
  EXPECT_TRUE(shared.Appended().empty());
}

TEST(Remap, EachDonorIndexIsResolvedOnceInOrderOfFirstUse) {
  std::vector<Entry> base = BaseEntries(3);
  std::vector<Entry> donor = {MakeEntry(50), MakeEntry(51), MakeEntry(52), MakeEntry(53)};
  Merge plain(base, donor, false, 2);
  EXPECT_EQ(plain.Remap({2, 1}), (std::vector<uint32_t>{3, 4}));  // frame 1
  for (int frame = 2; frame < 7; ++frame)
    EXPECT_EQ(plain.Remap({1, 1}), (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(plain.Remap({1, 3}), (std::vector<uint32_t>{4, 5}));  // frame 7
  EXPECT_EQ(plain.Appended(), Concat({donor[2], donor[1], donor[3]}));
}

TEST(Remap, WorkedExample) {
  std::vector<Entry> base = BaseEntries(4);
  Entry d0 = MakeEntry(90);
  std::vector<Entry> donor = {d0, base[2], d0};
  Merge plain(base, donor, false, 2);
  EXPECT_EQ(plain.Remap({1, 0}), (std::vector<uint32_t>{4, 5}));
  EXPECT_EQ(plain.Remap({2, 1}), (std::vector<uint32_t>{6, 4}));
  EXPECT_EQ(plain.Appended(), Concat({base[2], d0, d0}));
  Merge optimized(base, donor, true, 2);
  EXPECT_EQ(optimized.Remap({1, 0}), (std::vector<uint32_t>{2, 4}));
  EXPECT_EQ(optimized.Remap({2, 1}), (std::vector<uint32_t>{4, 2}));
  EXPECT_EQ(optimized.Appended(), Concat({d0}));
}

TEST(Remap, IndexPastTheDonorEntriesIsRefused) {
  Merge plain(BaseEntries(2), {MakeEntry(1), MakeEntry(2)}, false, 2);
  std::vector<uint8_t> frame(6);
  StoreU24(&frame[0], 1);
  StoreU24(&frame[3], 2);
  RemapResult result =
      RemapFrame(frame.data(), plain.donorHeader, plain.map, plain.arrays, plain.state);
  EXPECT_EQ(result.status, RemapStatus::kBadIndex);
  EXPECT_EQ(result.badIndex, 2u);
}

TEST(Remap, OutputIndexPastTwentyFourBitsIsRefused) {
  std::vector<uint8_t> donor = Concat({MakeEntry(1), MakeEntry(2)});
  // Without sharing the base entries are never read, only counted.
  BoneArrays arrays{nullptr, kMaxBoneDataEntries - 1, donor.data(), 2};
  RemapState state;
  StartRemap(state, arrays, false);
  EXPECT_EQ(FindOrAppendEntry(0, arrays, state), kMaxBoneDataEntries - 1);
  EXPECT_EQ(FindOrAppendEntry(1, arrays, state), kUnsetSlot);

  AnimHeader donorHeader{};
  donorHeader.boneCount = 2;
  BoneNameMap map = {{"a", 0}, {"b", 1}};
  StartRemap(state, arrays, false);
  std::vector<uint8_t> frame(6);
  StoreU24(&frame[3], 1);
  EXPECT_EQ(RemapFrame(frame.data(), donorHeader, map, arrays, state).status,
            RemapStatus::kTooLarge);
}

}  // namespace
}  // namespace bonesplice
