// Bone correspondence by name, and putting donor frames into base bone order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "format/header.h"
#include "format/skeleton.h"

namespace bonesplice {

// Entry j belongs to base bone j: its name, and the position in the donor skeleton of the
// first donor bone with the same name.
struct BoneNameEntry {
  std::string name;
  uint32_t secondIndex = 0;
};
using BoneNameMap = std::vector<BoneNameEntry>;

enum class BoneMapStatus { kOk, kFirstSkeletonShort, kSecondSkeletonShort, kMissingBone };

struct BoneMapResult {
  BoneMapStatus status = BoneMapStatus::kOk;
  std::string missingName;  // kMissingBone: the base bone's name
};

// Matches every base bone to the first donor bone of the same name (exact, case-sensitive).
// Two base bones of one name take the same donor bone. On kOk every secondIndex is below the
// donor table's size.
BoneMapResult MatchBoneNames(const BoneTable& base, const BoneTable& donor,
                             BoneNameMap& boneNameMap);

// Reads both skeletons (stream positions unchanged) and matches them with MatchBoneNames.
// Refuses a skeleton that its file holds only in part.
BoneMapResult BuildBoneNameMap(const AnimHeader& baseHeader, const AnimHeader& donorHeader,
                               std::FILE* baseStream, std::FILE* donorStream,
                               BoneNameMap& boneNameMap);

// Rewrites one donor frame of donorHeader.boneCount fields in place so that field j holds the
// donor's field secondIndex of entry j. The three bytes of a field move as they are.
void ReorderFrame(uint8_t* record, const AnimHeader& donorHeader, const BoneNameMap& boneNameMap);
// The same, using scratch for the copy of the frame so that a loop over frames allocates once.
void ReorderFrame(uint8_t* record, const AnimHeader& donorHeader, const BoneNameMap& boneNameMap,
                  std::vector<uint8_t>& scratch);

}  // namespace bonesplice
