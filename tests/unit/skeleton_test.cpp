// The skeleton reader: record sizes, what a file cut anywhere yields, and counts that promise
// more than the file holds.
#include "format/skeleton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "samples.h"

namespace bonesplice {
namespace {

using testing_support::EditHeader;
using testing_support::HeaderOf;
using testing_support::ViewOf;

glagen::SampleBone Bone(const std::string& name, int32_t parent, std::vector<uint32_t> children) {
  glagen::SampleBone bone;
  bone.name = name;
  bone.flags = 0x10u + static_cast<uint32_t>(name.size());
  bone.parent = parent;
  bone.children = std::move(children);
  for (size_t i = 0; i < 12; ++i) bone.origin[i] = static_cast<float>(i);
  return bone;
}

// The file of bones, with no frames or entries after the skeleton.
std::vector<uint8_t> FileOf(const std::vector<glagen::SampleBone>& bones) {
  glagen::SampleFile file;
  file.bones = bones;
  return glagen::EncodeSampleFile(file);
}

BoneTable Read(const std::vector<uint8_t>& bytes, const AnimHeader& header) {
  return ReadSkeleton(ViewOf(bytes), header);
}

TEST(Skeleton, RecordsAre172BytesPlusTheirChildren) {
  glagen::SampleBone odd = Bone("odd", 0, {});
  odd.childCount = -2;
  odd.name = std::string(64, 'x');  // no NUL in the field
  std::vector<uint8_t> bytes = FileOf({Bone("root", -1, {1, 2, 7}), Bone("spine", 0, {}), odd});
  AnimHeader header = HeaderOf(bytes);
  BoneTable table = Read(bytes, header);
  ASSERT_EQ(table.bones.size(), 3u);
  EXPECT_EQ(table.wholeBoneCount, 3u);
  EXPECT_EQ(table.endOffset, header.skeletonInfoOffset + 184u + 172u + 172u);
  EXPECT_EQ(table.endOffset, bytes.size());
  EXPECT_EQ(table.bones[0].children, (std::vector<uint32_t>{1, 2, 7}));
  EXPECT_STREQ(table.bones[1].name, "spine");
  EXPECT_EQ(table.bones[1].flags, 0x15u);
  EXPECT_EQ(table.bones[1].parent, 0);
  EXPECT_EQ(table.bones[1].origin[5], 5.0f);
  EXPECT_EQ(std::string(table.bones[2].name), std::string(64, 'x'));
  EXPECT_EQ(table.bones[2].childCount, -2);
  EXPECT_TRUE(table.bones[2].children.empty());
}

TEST(Skeleton, EveryCutOfAFileReadsTheBonesItHolds) {
  std::vector<uint8_t> full = FileOf(
      {Bone("root", -1, {1, 2}), Bone("left", 0, {}), Bone("right", 0, {3}), Bone("hand", 2, {})});
  AnimHeader header = HeaderOf(full);
  std::vector<size_t> recordEnds;
  size_t end = header.skeletonInfoOffset;
  for (size_t children : {size_t{2}, size_t{0}, size_t{1}, size_t{0}}) {
    recordEnds.push_back(end += 172 + 4 * children);
  }
  for (size_t length = header.skeletonInfoOffset; length <= full.size(); ++length) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
    BoneTable table = Read(cut, header);
    uint32_t whole = 0;
    while (whole < 4 && recordEnds[whole] <= length) ++whole;
    size_t start = whole == 0 ? header.skeletonInfoOffset : recordEnds[whole - 1];
    bool partial = whole < 4 && length > start;
    ASSERT_EQ(table.wholeBoneCount, whole) << length;
    ASSERT_EQ(table.bones.size(), whole + (partial ? 1u : 0u)) << length;
    ASSERT_EQ(table.endOffset, start) << length;
    if (partial) {
      // Every word from the one the file ends in reads as all bits set.
      const SkeletonBone& last = table.bones.back();
      if (length < start + 172) {
        ASSERT_EQ(last.childCount, -1) << length;
      } else {
        // Only the child words the file holds in full.
        ASSERT_EQ(last.children.size(), std::min<size_t>(static_cast<size_t>(last.childCount),
                                                         (length - start - 172) / 4))
            << length;
      }
      if (length < start + 72) {
        ASSERT_EQ(last.parent, -1) << length;
      }
      if (length < start + 120) {
        ASSERT_TRUE(std::isnan(last.origin[11])) << length;
      }
    }
    EXPECT_EQ(IsWholeSkeleton(table, header), whole == 4);
  }
}

TEST(Skeleton, CountsCostOnlyWhatTheFileHolds) {
  std::vector<uint8_t> bones = FileOf({Bone("root", -1, {}), Bone("spine", 0, {})});
  EditHeader(bones, [](AnimHeader& h) { h.boneCount = 0xFFFFFFFFu; });
  BoneTable table = Read(bones, HeaderOf(bones));
  EXPECT_EQ(table.bones.size(), 2u);
  EXPECT_EQ(table.wholeBoneCount, 2u);

  glagen::SampleBone fan = Bone("root", -1, {4, 5, 6});
  fan.childCount = 0x7FFFFFFF;
  std::vector<uint8_t> children = FileOf({fan});
  BoneTable childTable = Read(children, HeaderOf(children));
  ASSERT_EQ(childTable.bones.size(), 1u);
  EXPECT_EQ(childTable.bones[0].children, (std::vector<uint32_t>{4, 5, 6}));
  EXPECT_LE(childTable.bones[0].children.capacity(), 3u) << "the list is sized by the file";
  EXPECT_EQ(childTable.wholeBoneCount, 0u);

  EditHeader(children, [](AnimHeader& h) { h.skeletonInfoOffset = 0xFFFFFFF0u; });
  EXPECT_TRUE(Read(children, HeaderOf(children)).bones.empty());
}

}  // namespace
}  // namespace bonesplice
