// Bone correspondence by name: which donor field each base bone takes.
#pragma once

#include <cstdint>
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

// Matches every base bone to the first donor bone of the same name (exact, case-sensitive).
// Two base bones of one name take the same donor bone. Returns true with every secondIndex
// below the donor table's size, or false with the name of the first base bone the donor lacks.
bool MatchBoneNames(const BoneTable& base, const BoneTable& donor, BoneNameMap& boneNameMap,
                    std::string& missingName);

}  // namespace bonesplice
