// Skeleton bone records: 172 bytes each (name, flags, parent, two 3 x 4 matrices, child count)
// followed by 4 bytes per child when the child count is positive.
#pragma once

#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"

namespace bonesplice {

// Where the fields of a record lie in it: the name (64 bytes), flags, parent, the 12 words of
// origin and of inversedOrigin, the child count; the child words follow.
inline constexpr uint32_t kBoneFlagsAt = 64;
inline constexpr uint32_t kBoneParentAt = 68;
inline constexpr uint32_t kBoneOriginAt = 72;
inline constexpr uint32_t kBoneInversedOriginAt = 120;
inline constexpr uint32_t kBoneChildCountAt = 168;
inline constexpr uint32_t kSkeletonBoneFixedSize = 172;
static_assert(kBoneInversedOriginAt == kBoneOriginAt + 48 &&
              kBoneChildCountAt == kBoneInversedOriginAt + 48 &&
              kSkeletonBoneFixedSize == kBoneChildCountAt + 4);

struct SkeletonBone {
  char name[65];  // the 64 file bytes and a NUL; bytes a short file does not supply are NUL
  uint32_t flags;
  int32_t parent;
  float origin[12];
  float inversedOrigin[12];
  int32_t childCount;              // as stored, even where fewer child words follow
  std::vector<uint32_t> children;  // the child words the file holds, at most childCount
};

// The bones of one skeleton in file order. Holds at most header.boneCount bones and never more
// than the file holds: reading stops at the bone in which the file ends, which is kept.
struct BoneTable {
  std::vector<SkeletonBone> bones;
  // How many of the bones were read in full.
  uint32_t wholeBoneCount = 0;
  // The file offset just past the last bone read in full: where the skeleton ends when it is
  // whole.
  uint64_t endOffset = 0;
};

// Reads the skeleton at header.skeletonInfoOffset of file. Matrix elements are divided by
// header.scale. A word the file cannot supply reads as all bits set, and so does every later
// word. Time and memory are proportional to the file's size, whatever the counts say.
BoneTable ReadSkeleton(ByteView file, const AnimHeader& header);

// True when the table holds all header.boneCount bones in full.
bool IsWholeSkeleton(const BoneTable& table, const AnimHeader& header);

}  // namespace bonesplice
