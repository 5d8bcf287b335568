#include "merge/pipeline.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "format/skeleton.h"
#include "merge/remap.h"

namespace bonesplice {
namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFFu;
// Donor frames remapped together: enough that the lookups of their first uses overlap, few
// enough that their fields and remap slots stay in the processor's cache between passes.
constexpr uint64_t kFramesPerBatch = 64;
// A batch never holds more bytes than this, however many bones the files have.
constexpr uint64_t kBatchBytes = uint64_t{1} << 20;
// Appended entries gathered from the donor before they are written.
constexpr size_t kEntriesPerChunk = 1024;
constexpr size_t kGatherAhead = 32;

MergeOutcome Failed(MergeError error, bool inDonor = false) {
  MergeOutcome outcome;
  outcome.error = error;
  outcome.inDonor = inDonor;
  return outcome;
}

MergeOutcome Damaged(bool inDonor, Damage damage) {
  MergeOutcome outcome = Failed(MergeError::kDamaged, inDonor);
  outcome.damage = damage;
  return outcome;
}

// The check both inputs share: a bone array inside the file.
std::optional<Damage> CheckBoneArray(const FileLayout& layout) {
  if (layout.header.boneArrayOffset > layout.header.eofOffset) return Damage::kBoneArrayAfterEnd;
  if (layout.header.eofOffset > layout.fileSize) return Damage::kBoneArrayPastEnd;
  return std::nullopt;
}

// Every block of the base goes into the output, so each must lie where the format expects it.
std::optional<Damage> CheckBaseLayout(const FileLayout& layout) {
  const AnimHeader& header = layout.header;
  if (!layout.wholeHeader) return Damage::kEndsInHeader;
  if (!Fits(kHeaderSize, layout.offsetTableBytes, layout.fileSize)) {
    return Damage::kOffsetTablePastEnd;
  }
  if (header.skeletonInfoOffset > header.frameArrayOffset) return Damage::kSkeletonAfterFrames;
  if (header.skeletonInfoOffset < kHeaderSize + layout.offsetTableBytes) {
    return Damage::kSkeletonOutsideBlock;
  }
  if (!FramesFit(layout, header.frameCount)) return Damage::kFramesPastEnd;
  if (auto damage = CheckBoneArray(layout)) return damage;
  if (layout.boneArrayBytes % kBoneDataEntrySize != 0) return Damage::kBoneArrayPartialEntry;
  return std::nullopt;
}

// Of the donor only the frames and the bone array are read; stray bytes after its last whole
// entry are ignored.
std::optional<Damage> CheckDonorLayout(const FileLayout& layout) {
  if (!layout.wholeHeader) return Damage::kEndsInHeader;
  if (!FramesFit(layout, layout.header.frameCount)) return Damage::kFramesPastEnd;
  return CheckBoneArray(layout);
}

// Reads both skeletons, checks them and matches the base bones to the donor bones by name.
MergeOutcome BuildBoneNameMap(ByteView baseFile, ByteView donorFile, MergePlan& plan) {
  const AnimHeader& baseHeader = plan.base.header;
  BoneTable base = ReadSkeleton(baseFile, baseHeader);
  if (!IsWholeSkeleton(base, baseHeader)) return Damaged(false, Damage::kSkeletonShort);
  // The skeleton block is copied into the output as the skeleton: it must hold all of it.
  if (base.endOffset > baseHeader.frameArrayOffset) {
    return Damaged(false, Damage::kSkeletonOutsideBlock);
  }
  BoneTable donor = ReadSkeleton(donorFile, plan.donor.header);
  if (!IsWholeSkeleton(donor, plan.donor.header)) return Damaged(true, Damage::kSkeletonShort);
  MergeOutcome outcome;
  if (!MatchBoneNames(base, donor, plan.boneNameMap, outcome.boneName)) {
    outcome.error = MergeError::kMissingBone;
  }
  return outcome;
}

// The output header, whose offsets describe the blocks as they follow one another, for a merge
// that appends appended entries; nullopt when the format cannot describe the output.
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

MergeOutcome CheckFiles(ByteView baseFile, ByteView donorFile, MergePlan& plan) {
  plan.base = DecodeLayout(baseFile);
  plan.donor = DecodeLayout(donorFile);
  const FileLayout& base = plan.base;
  const FileLayout& donor = plan.donor;
  HeaderCheck check = CheckHeaders(base.header, donor.header);
  if (check != HeaderCheck::kOk) {
    MergeOutcome outcome = Failed(MergeError::kHeaderCheck);
    outcome.headerCheck = check;
    return outcome;
  }
  if (auto damage = CheckBaseLayout(base)) return Damaged(false, *damage);
  if (donor.wholeHeader && donor.header.frameCount == 0) return Failed(MergeError::kNoDonorFrames);
  if (auto damage = CheckDonorLayout(donor)) return Damaged(true, *damage);
  if (base.header.boneCount == 0) return Failed(MergeError::kNoBones);

  // Everything but the appended entries is known now: refuse an output the format cannot
  // describe before anything is read.
  if (!OutputHeader(plan, 0) || base.entryCount > kMaxBoneDataEntries) {
    return Failed(MergeError::kTooLarge);
  }
  return BuildBoneNameMap(baseFile, donorFile, plan);
}

const uint8_t* DonorFrame(const MergePlan& plan, ByteView donor, uint64_t frame) {
  return donor.data + plan.donor.header.frameArrayOffset + frame * plan.donor.frameBytes;
}

// Donor frames 1 to frameCount - 1 in base bone order, a batch at a time.
class FrameBatches {
 public:
  FrameBatches(const MergePlan& plan, ByteView donor)
      : plan_(plan),
        donor_(donor),
        frameBytes_(static_cast<size_t>(plan.donor.frameBytes)),
        framesPerBatch_(static_cast<uint32_t>(
            std::clamp<uint64_t>(kBatchBytes / plan.donor.frameBytes, 1, kFramesPerBatch))),
        buffer_(framesPerBatch_ * frameBytes_) {}

  uint64_t framesToAppend() const { return plan_.donor.header.frameCount - uint64_t{1}; }
  // Reorders the batch of frames that starts with appended frame first; returns its size.
  uint32_t Load(uint64_t first) {
    uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(framesPerBatch_, framesToAppend() - first));
    for (uint32_t i = 0; i < count; ++i) {
      ReorderFrame(DonorFrame(plan_, donor_, first + i + 1), buffer_.data() + i * frameBytes_,
                   plan_.boneNameMap);
    }
    return count;
  }
  uint8_t* data() { return buffer_.data(); }
  // Rewrites the count frames loaded, all re-pointed, to output indices and writes them.
  bool Write(uint32_t count, const RemapTable& remapTable, MergeOutput& output) {
    RewriteFrames(buffer_.data(), count, plan_.donor.header.boneCount, remapTable);
    return output.Write(buffer_.data(), count * frameBytes_);
  }

 private:
  const MergePlan& plan_;
  ByteView donor_;
  size_t frameBytes_;
  uint32_t framesPerBatch_;
  std::vector<uint8_t> buffer_;
};

// Re-points every donor frame to append, reporting each finished frame in order, and stops at
// the first frame that cannot be. With an output, each batch of frames is written as soon as it
// is re-pointed, while its remap slots are still at hand.
MergeOutcome CollectSecondFileFrames(const MergePlan& plan, ByteView donor,
                                     const BoneArrays& arrays, const MergeOptions& options,
                                     RemapState& state, MergeOutput* output) {
  FrameBatches batches(plan, donor);
  uint32_t fields = plan.donor.header.boneCount;
  for (uint64_t done = 0; done < batches.framesToAppend();) {
    uint32_t count = batches.Load(done);
    RemapResult result = RemapFrames(batches.data(), count, fields, arrays, state);
    if (options.onFramesDone && result.framesDone > 0) {
      options.onFramesDone(static_cast<uint32_t>(done), result.framesDone);
    }
    done += result.framesDone;
    if (result.status == RemapStatus::kBadIndex) {
      MergeOutcome outcome = Failed(MergeError::kBadFrameIndex, true);
      outcome.frame = done + 1;
      outcome.index = result.badIndex;
      outcome.entryCount = arrays.donorEntryCount;
      return outcome;
    }
    if (result.status == RemapStatus::kTooLarge) return Failed(MergeError::kTooLarge);
    if (output != nullptr && !batches.Write(count, state.remapTable, *output)) {
      return Failed(MergeError::kWriteFailed);
    }
  }
  return {};
}

// Writes the donor frames once all are re-pointed: reordered again a batch at a time, rewritten
// and written.
bool WriteSecondFileFrames(const MergePlan& plan, ByteView donor, const RemapState& state,
                           MergeOutput& output) {
  FrameBatches batches(plan, donor);
  for (uint64_t done = 0; done < batches.framesToAppend();) {
    uint32_t count = batches.Load(done);
    if (!batches.Write(count, state.remapTable, output)) return false;
    done += count;
  }
  return true;
}

// The appended entries, gathered from the donor's bone array in chunks.
bool WriteAppendedEntries(const BoneArrays& arrays, const AppendedEntryList& appended,
                          MergeOutput& output) {
  std::vector<uint8_t> chunk(kEntriesPerChunk * kBoneDataEntrySize);
  const uint32_t* indices = appended.donorIndices.data();
  for (size_t first = 0; first < appended.count; first += kEntriesPerChunk) {
    size_t count = std::min<size_t>(kEntriesPerChunk, appended.count - first);
    for (size_t i = 0; i < count; ++i) {
      size_t p = first + i;
      if (p + kGatherAhead < appended.count) {
        BONESPLICE_PREFETCH(arrays.donorEntries +
                            size_t{indices[p + kGatherAhead]} * kBoneDataEntrySize);
      }
      std::memcpy(&chunk[i * kBoneDataEntrySize],
                  arrays.donorEntries + size_t{indices[p]} * kBoneDataEntrySize,
                  kBoneDataEntrySize);
    }
    if (!output.Write(chunk.data(), count * kBoneDataEntrySize)) return false;
  }
  return true;
}

// Writes the output front to back: the header, the base's blocks copied, the donor frames
// re-pointed a batch at a time, the base's bone array and the appended entries gathered. An
// output that can take its header again gets the frames in one pass and the header's final
// end offset last; any other gets the frames after all of them are re-pointed.
MergeOutcome Merge(const MergePlan& plan, ByteView baseFile, ByteView donor, MergeOutput& output,
                   const MergeOptions& options) {
  const FileLayout& base = plan.base;
  BoneArrays arrays{baseFile.data + base.header.boneArrayOffset, base.entryCount,
                    donor.data + plan.donor.header.boneArrayOffset, plan.donor.entryCount};
  RemapState state;
  StartRemap(state, arrays, options.optimize, options.hashKey);
  bool onePass = output.CanRewriteHeader();
  if (!onePass) {
    MergeOutcome collected = CollectSecondFileFrames(plan, donor, arrays, options, state, nullptr);
    if (collected.error != MergeError::kNone) return collected;
  }
  std::optional<AnimHeader> header = OutputHeader(plan, state.appendedEntryList.count);
  if (!header) return Failed(MergeError::kTooLarge);

  output.Begin();
  std::array<uint8_t, kHeaderSize> headerBytes = EncodeHeader(*header);
  if (!output.Write(headerBytes.data(), headerBytes.size()) ||
      !output.CopyFromBase(kHeaderSize, base.offsetTableBytes) ||
      !output.CopyFromBase(base.header.skeletonInfoOffset, base.skeletonBytes) ||
      !output.CopyFromBase(base.header.frameArrayOffset,
                           base.frameBytes * base.header.frameCount)) {
    return Failed(MergeError::kWriteFailed);
  }
  if (onePass) {
    MergeOutcome collected = CollectSecondFileFrames(plan, donor, arrays, options, state, &output);
    if (collected.error != MergeError::kNone) return collected;
  } else if (!WriteSecondFileFrames(plan, donor, state, output)) {
    return Failed(MergeError::kWriteFailed);
  }
  if (!output.CopyFromBase(base.header.boneArrayOffset, base.boneArrayBytes) ||
      !WriteAppendedEntries(arrays, state.appendedEntryList, output)) {
    return Failed(MergeError::kWriteFailed);
  }
  if (onePass) {
    header = OutputHeader(plan, state.appendedEntryList.count);
    if (!header) return Failed(MergeError::kTooLarge);
    headerBytes = EncodeHeader(*header);
    if (!output.RewriteHeader(headerBytes.data(), headerBytes.size())) {
      return Failed(MergeError::kWriteFailed);
    }
  }
  return {};
}

template <typename Work>
MergeOutcome OutOfMemoryAsFailure(Work work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return Failed(MergeError::kOutOfMemory);
  } catch (const std::length_error&) {
    return Failed(MergeError::kOutOfMemory);
  }
}

}  // namespace

MergeOutcome PlanMerge(ByteView base, ByteView donor, MergePlan& plan) {
  return OutOfMemoryAsFailure([&] { return CheckFiles(base, donor, plan); });
}

MergeOutcome RunMerge(const MergePlan& plan, ByteView base, ByteView donor, MergeOutput& output,
                      const MergeOptions& options) {
  return OutOfMemoryAsFailure([&] { return Merge(plan, base, donor, output, options); });
}

}  // namespace bonesplice
