#include "merge/remap.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The bytes of the entries appended so far, as the output gets them.
std::vector<uint8_t> AppendedBytes(const BoneArrays& arrays, const RemapState& state) {
  std::vector<uint8_t> bytes;
  for (uint32_t p = 0; p < state.appendedEntryList.count; ++p) {
    const uint8_t* entry =
        arrays.donorEntries + size_t{state.appendedEntryList.donorIndices[p]} * kBoneDataEntrySize;
    bytes.insert(bytes.end(), entry, entry + kBoneDataEntrySize);
  }
  return bytes;
}

// Remaps count frames stored back to back and rewrites those that could be.
RemapResult RemapAndRewrite(uint8_t* records, uint32_t count, uint32_t fields,
                            const BoneArrays& arrays, RemapState& state) {
  RemapResult result = RemapFrames(records, count, fields, arrays, state);
  RewriteFrames(records, result.framesDone, fields, state.remapTable);
  return result;
}

// The two bone arrays of a merge and its remapping state.
struct Merge {
  std::vector<uint8_t> base;
  std::vector<uint8_t> donor;
  BoneArrays arrays;
  RemapState state;

  Merge(const std::vector<Entry>& baseEntries, const std::vector<Entry>& donorEntries,
        bool optimize)
      : base(Concat(baseEntries)), donor(Concat(donorEntries)) {
    arrays = {base.data(), static_cast<uint32_t>(baseEntries.size()), donor.data(),
              static_cast<uint32_t>(donorEntries.size())};
    StartRemap(state, arrays, optimize, HashKey{});
  }

  std::vector<uint8_t> Appended() const { return AppendedBytes(arrays, state); }
};

std::vector<Entry> BaseEntries(size_t count) {
  std::vector<Entry> entries;
  for (size_t i = 0; i < count; ++i) entries.push_back(MakeEntry(static_cast<uint8_t>(i)));
  return entries;
}

TEST(Remap, OutputIndexPastTwentyFourBitsIsRefused) {
  std::vector<uint8_t> donor = Concat({MakeEntry(1), MakeEntry(2)});
  // Without sharing the base entries are never read, only counted.
  BoneArrays arrays{nullptr, kMaxBoneDataEntries - 1, donor.data(), 2};
  RemapState state;
  StartRemap(state, arrays, false, HashKey{});
  EXPECT_EQ(FindOrAppendEntry(0, arrays, state), kMaxBoneDataEntries - 1);
  EXPECT_EQ(FindOrAppendEntry(1, arrays, state), kUnsetSlot);

  RemapState fresh;
  StartRemap(fresh, arrays, false, HashKey{});
  std::vector<uint8_t> frame(6);
  StoreU24(&frame[3], 1);
  EXPECT_EQ(RemapFrames(frame.data(), 1, 2, arrays, fresh).status, RemapStatus::kTooLarge);
}

// Frames of donor indices, stored back to back as RemapFrames takes them.
std::vector<uint8_t> Frames(const std::vector<std::vector<uint32_t>>& frames) {
  std::vector<uint8_t> bytes;
  for (const std::vector<uint32_t>& frame : frames) {
    for (uint32_t index : frame) {
      uint8_t field[3];
      StoreU24(field, index);
      bytes.insert(bytes.end(), field, field + 3);
    }
  }
  return bytes;
}

TEST(Remap, BatchesOfAnySizeGiveTheResultOfOneFrameAtATime) {
  // Many repeats within and across frames, and donor entries equal to base entries.
  std::vector<Entry> base = BaseEntries(40);
  std::vector<Entry> donor;
  for (int i = 0; i < 300; ++i) {
    donor.push_back(i % 3 == 0 ? base[static_cast<size_t>(i % 40)]
                               : MakeEntry(static_cast<uint8_t>(100 + i % 70)));
  }
  const uint32_t bones = 5;
  const uint32_t frameCount = 150;
  std::vector<std::vector<uint32_t>> frames;
  uint32_t state = 12345;
  for (uint32_t f = 0; f < frameCount; ++f) {
    std::vector<uint32_t> frame;
    for (uint32_t j = 0; j < bones; ++j) {
      state = state * 1103515245u + 12345u;
      frame.push_back((state >> 8) % 300);
    }
    frames.push_back(frame);
  }
  for (bool optimize : {false, true}) {
    Merge single(base, donor, optimize);
    std::vector<uint8_t> expected = Frames(frames);
    for (uint32_t f = 0; f < frameCount; ++f) {
      ASSERT_EQ(
          RemapAndRewrite(expected.data() + f * bones * 3, 1, bones, single.arrays, single.state)
              .status,
          RemapStatus::kOk);
    }
    for (uint32_t batch : {2u, 7u, 64u, frameCount}) {
      Merge batched(base, donor, optimize);
      std::vector<uint8_t> bytes = Frames(frames);
      for (uint32_t f = 0; f < frameCount; f += batch) {
        uint32_t count = std::min(batch, frameCount - f);
        RemapResult result = RemapAndRewrite(bytes.data() + f * bones * 3, count, bones,
                                             batched.arrays, batched.state);
        ASSERT_EQ(result.status, RemapStatus::kOk);
        EXPECT_EQ(result.framesDone, count);
      }
      EXPECT_EQ(bytes, expected) << "batch " << batch << " optimize " << optimize;
      EXPECT_EQ(batched.Appended(), single.Appended()) << "batch " << batch;
    }
  }
}

TEST(Remap, BatchReportsTheFrameThatFailsFirst) {
  std::vector<uint8_t> donor = Concat({MakeEntry(1), MakeEntry(2), MakeEntry(3)});
  // Two more output indices fit: the third new donor index is one too many.
  BoneArrays arrays{nullptr, kMaxBoneDataEntries - 2, donor.data(), 3};
  const uint32_t bad = 3;
  struct Case {
    std::vector<std::vector<uint32_t>> frames;
    RemapStatus status;
    uint32_t framesDone;
  };
  const Case cases[] = {
      {{{0, 0}, {1, 1}, {1, bad}, {2, 2}}, RemapStatus::kBadIndex, 2},
      {{{0, 0}, {1, 1}, {2, bad}}, RemapStatus::kTooLarge, 2},  // too large before the bad field
      {{{0, 1}, {bad, 2}}, RemapStatus::kBadIndex, 1},
      {{{0, 0}, {0, 1}, {1, 0}, {2, 0}, {0, 0}}, RemapStatus::kTooLarge, 3},
  };
  for (const Case& c : cases) {
    RemapState state;
    StartRemap(state, arrays, false, HashKey{});
    std::vector<uint8_t> bytes = Frames(c.frames);
    RemapResult result =
        RemapFrames(bytes.data(), static_cast<uint32_t>(c.frames.size()), 2, arrays, state);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.framesDone, c.framesDone);
    if (c.status == RemapStatus::kBadIndex) {
      EXPECT_EQ(result.badIndex, bad);
    }
    // The indices of the frames before the failing one are resolved.
    EXPECT_EQ(state.remapTable[0], kMaxBoneDataEntries - 2);
  }
}

}  // namespace
}  // namespace bonesplice
