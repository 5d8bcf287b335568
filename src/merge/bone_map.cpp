#include "merge/bone_map.h"

#include <cstring>
#include <unordered_map>

namespace bonesplice {

BoneMapResult MatchBoneNames(const BoneTable& base, const BoneTable& donor,
                             BoneNameMap& boneNameMap) {
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
    if (found == donorIndex.end()) return {BoneMapStatus::kMissingBone, bone.name};
    boneNameMap.push_back({bone.name, found->second});
  }
  return {};
}

BoneMapResult BuildBoneNameMap(const AnimHeader& baseHeader, const AnimHeader& donorHeader,
                               std::FILE* baseStream, std::FILE* donorStream,
                               BoneNameMap& boneNameMap) {
  BoneTable base = ReadSkeleton(baseStream, baseHeader);
  if (!IsWholeSkeleton(base, baseHeader)) return {BoneMapStatus::kFirstSkeletonShort, ""};
  BoneTable donor = ReadSkeleton(donorStream, donorHeader);
  if (!IsWholeSkeleton(donor, donorHeader)) return {BoneMapStatus::kSecondSkeletonShort, ""};
  return MatchBoneNames(base, donor, boneNameMap);
}

void ReorderFrame(uint8_t* record, const AnimHeader& donorHeader, const BoneNameMap& boneNameMap) {
  std::vector<uint8_t> scratch;
  ReorderFrame(record, donorHeader, boneNameMap, scratch);
}

void ReorderFrame(uint8_t* record, const AnimHeader& donorHeader, const BoneNameMap& boneNameMap,
                  std::vector<uint8_t>& copy) {
  size_t fields = donorHeader.boneCount;
  copy.assign(record, record + fields * kFrameFieldSize);
  for (size_t j = 0; j < fields; ++j) {
    std::memcpy(record + j * kFrameFieldSize,
                copy.data() + size_t{boneNameMap[j].secondIndex} * kFrameFieldSize,
                kFrameFieldSize);
  }
}

}  // namespace bonesplice
