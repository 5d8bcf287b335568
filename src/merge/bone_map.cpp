#include "merge/bone_map.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace bonesplice {

bool MatchBoneNames(const BoneTable& base, const BoneTable& donor, BoneNameMap& boneNameMap,
                    std::string& missingName) {
  // The donor bones sorted by name, equal names by position, so that a search finds the first
  // donor bone of a name in logarithmic time whatever names a file holds (no hash a file could
  // be written to flood).
  using Named = std::pair<const char*, uint32_t>;
  auto before = [](const Named& a, const Named& b) {
    int order = std::strcmp(a.first, b.first);
    return order != 0 ? order < 0 : a.second < b.second;
  };
  std::vector<Named> donorNames;
  size_t scanned = std::min(donor.bones.size(), base.bones.size());
  donorNames.reserve(scanned);
  for (size_t k = 0; k < scanned; ++k) {
    donorNames.emplace_back(donor.bones[k].name, static_cast<uint32_t>(k));
  }
  std::sort(donorNames.begin(), donorNames.end(), before);

  boneNameMap.clear();
  boneNameMap.reserve(base.bones.size());
  for (const SkeletonBone& bone : base.bones) {
    auto found =
        std::lower_bound(donorNames.begin(), donorNames.end(), Named{bone.name, 0}, before);
    if (found == donorNames.end() || std::strcmp(found->first, bone.name) != 0) {
      missingName = bone.name;
      return false;
    }
    boneNameMap.push_back({bone.name, found->second});
  }
  return true;
}

}  // namespace bonesplice
