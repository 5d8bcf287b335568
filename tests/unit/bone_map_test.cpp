#include "merge/bone_map.h"

#include <gtest/gtest.h>

#include <cstring>

namespace bonesplice {
namespace {

BoneTable TableOf(const std::vector<std::string>& names) {
  BoneTable table;
  for (const std::string& name : names) {
    SkeletonBone bone{};
    std::strncpy(bone.name, name.c_str(), 64);
    table.bones.push_back(bone);
  }
  table.wholeBoneCount = static_cast<uint32_t>(names.size());
  return table;
}

// Frame whose field j holds the index 0x0A0B00 + j.
std::vector<uint8_t> NumberedFrame(size_t fields) {
  std::vector<uint8_t> frame(3 * fields);
  for (size_t j = 0; j < fields; ++j) {
    frame[3 * j] = static_cast<uint8_t>(j);
    frame[3 * j + 1] = 0x0B;
    frame[3 * j + 2] = 0x0A;
  }
  return frame;
}

std::vector<uint32_t> SecondIndices(const BoneNameMap& map) {
  std::vector<uint32_t> indices;
  for (const BoneNameEntry& entry : map) indices.push_back(entry.secondIndex);
  return indices;
}

TEST(BoneMap, MatchesByExactNameFirstDonorBoneWinning) {
  struct Case {
    std::vector<std::string> base;
    std::vector<std::string> donor;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {{"root", "spine", "head"}, {"head", "spine", "root"}, {2, 1, 0}},
      {{"root", "spine", "head"}, {"root", "spine", "head"}, {0, 1, 2}},
      {{"root", "arm", "arm"}, {"arm", "root", "arm"}, {1, 0, 0}},
      {{"a", "b", "c"}, {"c", "c", "a"}, {}},  // b is missing
  };
  for (const Case& c : cases) {
    BoneNameMap map;
    std::string missing;
    bool matched = MatchBoneNames(TableOf(c.base), TableOf(c.donor), map, missing);
    if (c.expected.empty()) {
      EXPECT_FALSE(matched);
      EXPECT_EQ(missing, "b");
    } else {
      EXPECT_TRUE(matched);
      EXPECT_EQ(SecondIndices(map), c.expected);
      EXPECT_EQ(map[0].name, c.base[0]);
    }
  }
}

TEST(BoneMap, NamesDifferingInLetterCaseDoNotMatch) {
  BoneNameMap map;
  std::string missing;
  EXPECT_FALSE(MatchBoneNames(TableOf({"Root"}), TableOf({"root"}), map, missing));
  EXPECT_EQ(missing, "Root");
}

// Puts a frame into the base order of map.
std::vector<uint8_t> Reordered(const std::vector<std::string>& base,
                               const std::vector<std::string>& donor) {
  BoneNameMap map;
  std::string missing;
  EXPECT_TRUE(MatchBoneNames(TableOf(base), TableOf(donor), map, missing));
  std::vector<uint8_t> frame = NumberedFrame(donor.size());
  std::vector<uint8_t> reordered(frame.size());
  ReorderFrame(frame.data(), reordered.data(), map);
  return reordered;
}

TEST(BoneMap, ReorderMovesWholeFieldsIntoBaseOrder) {
  EXPECT_EQ(Reordered({"a", "b", "c", "d"}, {"d", "c", "b", "a"}),
            (std::vector<uint8_t>{3, 11, 10, 2, 11, 10, 1, 11, 10, 0, 11, 10}));
  EXPECT_EQ(Reordered({"a", "b", "c", "d"}, {"a", "b", "c", "d"}), NumberedFrame(4));
  // Bones 1 and 3 share a name in both files: field 3 becomes a copy of field 1.
  EXPECT_EQ(Reordered({"a", "x", "c", "x"}, {"a", "x", "c", "x"}),
            (std::vector<uint8_t>{0, 11, 10, 1, 11, 10, 2, 11, 10, 1, 11, 10}));
}

}  // namespace
}  // namespace bonesplice
