#include "merge/plan.h"

#include "format/skeleton.h"

namespace bonesplice {
namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFFu;

// Reads both skeletons, checks them and matches the base bones to the donor bones by name.
std::optional<Failure> MatchSkeletons(ByteView baseFile, ByteView donorFile, MergePlan& plan) {
  BoneTable base = ReadSkeleton(baseFile, plan.base.header);
  if (auto damage = CheckSkeleton(base, plan.base.header, true)) {
    return FileDamaged{FileRole::kBase, *damage};
  }
  BoneTable donor = ReadSkeleton(donorFile, plan.donor.header);
  if (auto damage = CheckSkeleton(donor, plan.donor.header, false)) {
    return FileDamaged{FileRole::kDonor, *damage};
  }
  std::string missing;
  if (!MatchBoneNames(base, donor, plan.boneNameMap, missing)) return MissingBone{missing};
  return std::nullopt;
}

}  // namespace

std::optional<AnimHeader> OutputHeader(const MergePlan& plan, uint32_t appended) {
  const FileLayout& base = plan.base;
  uint64_t framesToAppend = plan.donor.header.frameCount - uint64_t{1};
  uint64_t skeletonInfoOffset = kHeaderSize + base.offsetTableBytes;
  uint64_t frameArrayOffset = skeletonInfoOffset + base.skeletonBytes;
  uint64_t boneArrayOffset = frameArrayOffset + base.frameBytes * base.header.frameCount +
                             framesToAppend * plan.donor.frameBytes;
  uint64_t eofOffset =
      boneArrayOffset + base.boneArrayBytes + uint64_t{appended} * kBoneDataEntrySize;
  uint64_t frameCount = uint64_t{base.header.frameCount} + framesToAppend;
  if (eofOffset > kMaxOffset || frameCount > kMaxOffset) return std::nullopt;
  AnimHeader header = base.header;
  header.frameCount = static_cast<uint32_t>(frameCount);
  header.skeletonInfoOffset = static_cast<uint32_t>(skeletonInfoOffset);
  header.frameArrayOffset = static_cast<uint32_t>(frameArrayOffset);
  header.boneArrayOffset = static_cast<uint32_t>(boneArrayOffset);
  header.eofOffset = static_cast<uint32_t>(eofOffset);
  return header;
}

std::optional<Failure> PlanMerge(ByteView baseFile, ByteView donorFile, MergePlan& plan) {
  plan.base = DecodeLayout(baseFile);
  plan.donor = DecodeLayout(donorFile);
  const FileLayout& base = plan.base;
  const FileLayout& donor = plan.donor;
  HeaderCheck check = CheckHeaders(base.header, donor.header);
  if (check != HeaderCheck::kOk) return HeadersRefused{check};
  if (auto damage = CheckBaseLayout(base)) return FileDamaged{FileRole::kBase, *damage};
  if (donor.wholeHeader && donor.header.frameCount == 0) return NoDonorFrames{};
  if (auto damage = CheckDonorLayout(donor)) return FileDamaged{FileRole::kDonor, *damage};
  if (base.header.boneCount == 0) return NoBones{};
  // Everything but the appended entries is known now: refuse an output the format cannot
  // describe before the skeletons are read.
  if (!OutputHeader(plan, 0) || base.entryCount > kMaxBoneDataEntries) return TooLarge{};
  return MatchSkeletons(baseFile, donorFile, plan);
}

}  // namespace bonesplice
