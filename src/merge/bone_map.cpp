#include "merge/bone_map.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "format/header.h"

namespace bonesplice {

bool MatchBoneNames(const BoneTable& base, const BoneTable& donor, BoneNameMap& boneNameMap,
                    std::string& missingName) {
  // First donor bone of each name; a hash map keeps large skeletons linear in time.
  std::unordered_map<std::string, uint32_t> donorIndex;
  donorIndex.reserve(donor.bones.size());
  size_t scanned = std::min(donor.bones.size(), base.bones.size());
  for (size_t k = 0; k < scanned; ++k) {
    donorIndex.emplace(donor.bones[k].name, static_cast<uint32_t>(k));
  }
  boneNameMap.clear();
  boneNameMap.reserve(base.bones.size());
  for (const SkeletonBone& bone : base.bones) {
    auto found = donorIndex.find(bone.name);
    if (found == donorIndex.end()) {
      missingName = bone.name;
      return false;
    }
    boneNameMap.push_back({bone.name, found->second});
  }
  return true;
}

void ReorderFrame(const uint8_t* from, uint8_t* to, const BoneNameMap& boneNameMap) {
  for (size_t j = 0; j < boneNameMap.size(); ++j) {
    std::memcpy(to + j * kFrameFieldSize,
                from + size_t{boneNameMap[j].secondIndex} * kFrameFieldSize, kFrameFieldSize);
  }
}

}  // namespace bonesplice
