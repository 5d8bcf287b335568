#include "format/skeleton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "format/bytes.h"
#include "views.h"

namespace bonesplice {
namespace {

using testing_support::HeaderOfBytes;
using testing_support::ViewOf;

void PutWord(std::vector<uint8_t>& bytes, uint32_t word) {
  uint8_t b[4];
  StoreU32(b, word);
  bytes.insert(bytes.end(), b, b + 4);
}

// Appends one skeleton record; returns its length in bytes.
size_t PutBone(std::vector<uint8_t>& bytes, const std::string& name, int32_t parent,
               int32_t childCount, const std::vector<uint32_t>& children, float originValue = 1) {
  size_t start = bytes.size();
  std::vector<uint8_t> field(64, 0);
  std::memcpy(field.data(), name.data(), std::min<size_t>(name.size(), 64));
  bytes.insert(bytes.end(), field.begin(), field.end());
  PutWord(bytes, 0x10u + static_cast<uint32_t>(start));  // flags
  PutWord(bytes, static_cast<uint32_t>(parent));
  for (int i = 0; i < 24; ++i) PutWord(bytes, FloatBits(originValue * static_cast<float>(i)));
  PutWord(bytes, static_cast<uint32_t>(childCount));
  for (uint32_t child : children) PutWord(bytes, child);
  return bytes.size() - start;
}

// A header followed directly by the skeleton records.
std::vector<uint8_t> HeaderFor(uint32_t boneCount, float scale) {
  std::vector<uint8_t> bytes(kHeaderSize, 0);
  std::memcpy(bytes.data(), "2LGA", 4);
  StoreU32(&bytes[72], FloatBits(scale));
  StoreU32(&bytes[84], boneCount);
  StoreU32(&bytes[92], kHeaderSize);
  return bytes;
}

TEST(Skeleton, RecordsAre172BytesPlusTheirChildren) {
  std::vector<uint8_t> bytes = HeaderFor(3, 1.0f);
  EXPECT_EQ(PutBone(bytes, "root", -1, 3, {1, 2, 7}), 184u);
  EXPECT_EQ(PutBone(bytes, "spine", 0, 0, {}), 172u);
  EXPECT_EQ(PutBone(bytes, "odd", 0, -2, {}), 172u);
  BoneTable table = ReadSkeleton(ViewOf(bytes), HeaderOfBytes(bytes));
  ASSERT_EQ(table.bones.size(), 3u);
  EXPECT_EQ(table.wholeBoneCount, 3u);
  EXPECT_STREQ(table.bones[0].name, "root");
  EXPECT_EQ(table.bones[0].parent, -1);
  EXPECT_EQ(table.bones[0].children, (std::vector<uint32_t>{1, 2, 7}));
  EXPECT_STREQ(table.bones[1].name, "spine");
  EXPECT_EQ(table.bones[1].flags, 0x10u + 100u + 184u);
  EXPECT_EQ(table.bones[1].origin[5], 5.0f);
  EXPECT_EQ(table.bones[1].inversedOrigin[11], 23.0f);
  EXPECT_STREQ(table.bones[2].name, "odd");
  EXPECT_EQ(table.bones[2].childCount, -2);
  EXPECT_TRUE(table.bones[2].children.empty());
}

TEST(Skeleton, MatrixElementsAreDividedByScaleOnly) {
  std::vector<uint8_t> bytes = HeaderFor(1, 2.0f);
  PutBone(bytes, "root", -1, 0, {});
  BoneTable table = ReadSkeleton(ViewOf(bytes), HeaderOfBytes(bytes));
  ASSERT_EQ(table.bones.size(), 1u);
  EXPECT_EQ(table.bones[0].origin[1], 0.5f);
  EXPECT_EQ(table.bones[0].inversedOrigin[0], 6.0f);  // element 12 stored as 12.0
  EXPECT_EQ(table.bones[0].parent, -1);
}

TEST(Skeleton, NameWithoutNulIsCutAtSixtyFourCharacters) {
  std::vector<uint8_t> bytes = HeaderFor(1, 1.0f);
  PutBone(bytes, std::string(64, 'x'), -1, 0, {});
  BoneTable table = ReadSkeleton(ViewOf(bytes), HeaderOfBytes(bytes));
  EXPECT_EQ(std::string(table.bones.at(0).name), std::string(64, 'x'));
}

TEST(Skeleton, EveryCutOfAFileReadsTheBonesItHolds) {
  std::vector<uint8_t> full = HeaderFor(4, 1.0f);
  std::vector<size_t> recordEnds;
  PutBone(full, "root", -1, 2, {1, 2});
  recordEnds.push_back(full.size());
  PutBone(full, "left", 0, 0, {});
  recordEnds.push_back(full.size());
  PutBone(full, "right", 0, 1, {3});
  recordEnds.push_back(full.size());
  PutBone(full, "hand", 2, 0, {});
  recordEnds.push_back(full.size());
  for (size_t length = kHeaderSize; length <= full.size(); ++length) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
      BoneTable table = ReadSkeleton(ViewOf(cut), HeaderOfBytes(full));
    uint32_t whole = 0;
    while (whole < 4 && recordEnds[whole] <= length) ++whole;
    bool partial = whole < 4 && length > (whole == 0 ? kHeaderSize : recordEnds[whole - 1]);
    ASSERT_EQ(table.wholeBoneCount, whole) << length;
    ASSERT_EQ(table.bones.size(), whole + (partial ? 1u : 0u)) << length;
    if (partial) {
      const SkeletonBone& last = table.bones.back();
      size_t start = whole == 0 ? kHeaderSize : recordEnds[whole - 1];
      if (length < start + 172) {
        ASSERT_EQ(last.childCount, -1) << length;
        ASSERT_TRUE(last.children.empty());
      }
      if (length < start + 72) {
        ASSERT_EQ(last.parent, -1) << length;
      }
      if (length < start + 120) {
        ASSERT_TRUE(std::isnan(last.origin[11])) << length;
      }
    }
    EXPECT_EQ(IsWholeSkeleton(table, HeaderOfBytes(full)), whole == 4);
  }
}

TEST(Skeleton, HugeCountsCostOnlyWhatTheFileHolds) {
  std::vector<uint8_t> bytes = HeaderFor(0xFFFFFFFFu, 1.0f);
  bytes.resize(200, 'z');
  BoneTable table = ReadSkeleton(ViewOf(bytes), HeaderOfBytes(bytes));
  EXPECT_EQ(table.bones.size(), 1u);
  EXPECT_EQ(table.wholeBoneCount, 0u);

  std::vector<uint8_t> children = HeaderFor(1, 1.0f);
  PutBone(children, "root", -1, 0x7FFFFFFF, {4, 5, 6});
  BoneTable childTable = ReadSkeleton(ViewOf(children), HeaderOfBytes(children));
  ASSERT_EQ(childTable.bones.size(), 1u);
  EXPECT_EQ(childTable.bones[0].childCount, 0x7FFFFFFF);
  EXPECT_EQ(childTable.bones[0].children, (std::vector<uint32_t>{4, 5, 6}));
  EXPECT_EQ(childTable.wholeBoneCount, 0u);
}

TEST(Skeleton, OffsetPastTheEndReadsNoBones) {
  std::vector<uint8_t> bytes = HeaderFor(2, 1.0f);
  StoreU32(&bytes[92], 0xFFFFFFF0u);
  BoneTable table = ReadSkeleton(ViewOf(bytes), HeaderOfBytes(bytes));
  EXPECT_TRUE(table.bones.empty());
  EXPECT_FALSE(IsWholeSkeleton(table, HeaderOfBytes(bytes)));
}

}  // namespace
}  // namespace bonesplice
