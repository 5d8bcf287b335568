#include "merge/pipeline.h"

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "format/bytes.h"
#include "format/skeleton.h"
#include "merge/bone_map.h"
#include "merge/remap.h"

namespace bonesplice {
namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFFu;
// Donor frames remapped together: enough that the lookups of their first uses overlap, few
// enough that their fields and remap slots stay in the processor's cache between passes.
constexpr uint64_t kFramesPerBatch = 64;

// The byte ranges of one input file that the merge uses, derived from its header.
struct FileLayout {
  uint64_t offsetTableBytes = 0;
  uint64_t skeletonBytes = 0;
  uint64_t frameBytes = 0;  // one frame
  uint64_t boneArrayBytes = 0;
  uint32_t entryCount = 0;
};

FileLayout LayoutOf(const AnimHeader& header) {
  FileLayout layout;
  layout.offsetTableBytes = uint64_t{header.boneCount} * kBoneOffsetSize;
  layout.frameBytes = uint64_t{header.boneCount} * kFrameFieldSize;
  if (header.frameArrayOffset >= header.skeletonInfoOffset) {
    layout.skeletonBytes = header.frameArrayOffset - header.skeletonInfoOffset;
  }
  if (header.eofOffset >= header.boneArrayOffset) {
    layout.boneArrayBytes = header.eofOffset - header.boneArrayOffset;
  }
  layout.entryCount = static_cast<uint32_t>(layout.boneArrayBytes / kBoneDataEntrySize);
  return layout;
}

// True when count frames starting at header.frameArrayOffset lie inside a file of fileSize.
bool FramesFit(const AnimHeader& header, const FileLayout& layout, uint64_t count,
               uint64_t fileSize) {
  if (header.frameArrayOffset > fileSize) return false;
  return layout.frameBytes == 0 ||
         count <= (fileSize - header.frameArrayOffset) / layout.frameBytes;
}

// The check both inputs share: a bone array inside the file.
std::optional<Damage> CheckBoneArray(const AnimHeader& header, uint64_t fileSize) {
  if (header.boneArrayOffset > header.eofOffset) return Damage::kBoneArrayAfterEnd;
  if (header.eofOffset > fileSize) return Damage::kBoneArrayPastEnd;
  return std::nullopt;
}

std::optional<Damage> CheckBaseLayout(const AnimHeader& header, const FileLayout& layout,
                                      uint64_t fileSize) {
  if (fileSize < kHeaderSize) return Damage::kEndsInHeader;
  if (kHeaderSize + layout.offsetTableBytes > fileSize) return Damage::kOffsetTablePastEnd;
  if (header.skeletonInfoOffset > header.frameArrayOffset) return Damage::kSkeletonAfterFrames;
  if (!FramesFit(header, layout, header.frameCount, fileSize)) return Damage::kFramesPastEnd;
  if (auto damage = CheckBoneArray(header, fileSize)) return damage;
  if (layout.boneArrayBytes % kBoneDataEntrySize != 0) return Damage::kBoneArrayPartialEntry;
  return std::nullopt;
}

std::optional<Damage> CheckDonorLayout(const AnimHeader& header, const FileLayout& layout,
                                       uint64_t fileSize) {
  if (fileSize < kHeaderSize) return Damage::kEndsInHeader;
  if (!FramesFit(header, layout, header.frameCount, fileSize)) return Damage::kFramesPastEnd;
  return CheckBoneArray(header, fileSize);
}

MergeOutcome Damaged(bool second, Damage damage) {
  MergeOutcome outcome;
  outcome.error = MergeError::kDamaged;
  outcome.inSecondFile = second;
  outcome.damage = damage;
  return outcome;
}

MergeOutcome Failed(MergeError error, bool second = false) {
  MergeOutcome outcome;
  outcome.error = error;
  outcome.inSecondFile = second;
  return outcome;
}

// The blocks the output is made of, all held until it is written.
struct MergedBlocks {
  ByteBlock boneOffsetTable;
  ByteBlock skeleton;
  ByteBlock baseFrames;
  ByteBlock baseBoneArray;
  ByteBlock donorBoneArray;
  // The donor frames to append, one after another, in the order they were read.
  ByteBlock frameQueue;
  RemapState remap;
};

// Reads donor frames 1 to frameCount - 1 into the frame queue and re-points them a batch at a
// time, reporting each finished frame in order.
MergeOutcome CollectSecondFileFrames(std::FILE* donorStream, const AnimHeader& donorHeader,
                                     const FileLayout& donorLayout, const BoneNameMap& boneNameMap,
                                     const BoneArrays& arrays, const MergeOptions& options,
                                     MergedBlocks& blocks) {
  uint64_t framesToAppend = uint64_t{donorHeader.frameCount} - 1;
  size_t frameBytes = static_cast<size_t>(donorLayout.frameBytes);
  if (!ReadBlock(donorStream, uint64_t{donorHeader.frameArrayOffset} + frameBytes,
                 static_cast<size_t>(framesToAppend * frameBytes), blocks.frameQueue)) {
    return Failed(MergeError::kReadFailed, true);
  }
  for (uint64_t done = 0; done < framesToAppend;) {
    uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(kFramesPerBatch, framesToAppend - done));
    RemapResult result = RemapFrames(blocks.frameQueue.data() + done * frameBytes, count,
                                     donorHeader, boneNameMap, arrays, blocks.remap);
    if (options.onFrameDone) {
      for (uint32_t i = 0; i < result.framesDone; ++i) {
        options.onFrameDone(static_cast<uint32_t>(done + i));
      }
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
  }
  return {};
}

// Writes the output header, whose offsets describe the blocks as they follow one another, and
// then the blocks back to back.
MergeOutcome WriteMergedFile(std::FILE* outputStream, const AnimHeader& baseHeader,
                             const AnimHeader& donorHeader, const MergedBlocks& blocks) {
  const std::vector<uint8_t>& appended = blocks.remap.appendedEntryList.bytes;
  uint64_t skeletonInfoOffset = kHeaderSize + blocks.boneOffsetTable.size();
  uint64_t frameArrayOffset = skeletonInfoOffset + blocks.skeleton.size();
  uint64_t boneArrayOffset = frameArrayOffset + blocks.baseFrames.size() + blocks.frameQueue.size();
  uint64_t eofOffset = boneArrayOffset + blocks.baseBoneArray.size() + appended.size();
  uint64_t frameCount = uint64_t{baseHeader.frameCount} + donorHeader.frameCount - 1;
  if (eofOffset > kMaxOffset || frameCount > kMaxOffset) return Failed(MergeError::kTooLarge);

  AnimHeader header = baseHeader;
  header.frameCount = static_cast<uint32_t>(frameCount);
  header.skeletonInfoOffset = static_cast<uint32_t>(skeletonInfoOffset);
  header.frameArrayOffset = static_cast<uint32_t>(frameArrayOffset);
  header.boneArrayOffset = static_cast<uint32_t>(boneArrayOffset);
  header.eofOffset = static_cast<uint32_t>(eofOffset);

  struct Part {
    const uint8_t* data;
    size_t size;
  };
  const Part parts[] = {
      {blocks.boneOffsetTable.data(), blocks.boneOffsetTable.size()},
      {blocks.skeleton.data(), blocks.skeleton.size()},
      {blocks.baseFrames.data(), blocks.baseFrames.size()},
      {blocks.frameQueue.data(), blocks.frameQueue.size()},
      {blocks.baseBoneArray.data(), blocks.baseBoneArray.size()},
      {appended.data(), appended.size()},
  };
  bool written = WriteHeader(outputStream, header);
  for (const Part& part : parts) {
    written = written && WriteBlock(outputStream, part.data, part.size);
  }
  written = written && std::fflush(outputStream) == 0 && !std::ferror(outputStream);
  return written ? MergeOutcome{} : Failed(MergeError::kWriteFailed);
}

MergeOutcome Merge(std::FILE* baseStream, std::FILE* donorStream, std::FILE* outputStream,
                   const AnimHeader& baseHeader, const AnimHeader& donorHeader,
                   const MergeOptions& options) {
  std::optional<uint64_t> baseSize = StreamSize(baseStream);
  if (!baseSize) return Failed(MergeError::kReadFailed, false);
  std::optional<uint64_t> donorSize = StreamSize(donorStream);
  if (!donorSize) return Failed(MergeError::kReadFailed, true);

  FileLayout base = LayoutOf(baseHeader);
  FileLayout donor = LayoutOf(donorHeader);
  if (auto damage = CheckBaseLayout(baseHeader, base, *baseSize)) return Damaged(false, *damage);
  if (*donorSize >= kHeaderSize && donorHeader.frameCount == 0) {
    return Failed(MergeError::kNoDonorFrames);
  }
  if (auto damage = CheckDonorLayout(donorHeader, donor, *donorSize)) {
    return Damaged(true, *damage);
  }
  if (baseHeader.boneCount == 0) return Failed(MergeError::kNoBones);

  // Everything but the appended entries is known now: refuse an output the format cannot
  // describe before reading any block.
  uint64_t knownBytes = kHeaderSize + base.offsetTableBytes + base.skeletonBytes +
                        base.frameBytes * baseHeader.frameCount +
                        donor.frameBytes * (donorHeader.frameCount - uint64_t{1}) +
                        base.boneArrayBytes;
  if (knownBytes > kMaxOffset) return Failed(MergeError::kTooLarge);

  BoneNameMap boneNameMap;
  BoneMapResult match =
      BuildBoneNameMap(baseHeader, donorHeader, baseStream, donorStream, boneNameMap);
  switch (match.status) {
    case BoneMapStatus::kOk:
      break;
    case BoneMapStatus::kFirstSkeletonShort:
      return Damaged(false, Damage::kSkeletonShort);
    case BoneMapStatus::kSecondSkeletonShort:
      return Damaged(true, Damage::kSkeletonShort);
    case BoneMapStatus::kMissingBone: {
      MergeOutcome outcome = Failed(MergeError::kMissingBone);
      outcome.boneName = match.missingName;
      return outcome;
    }
  }

  MergedBlocks blocks;
  bool baseRead =
      ReadBlock(baseStream, kHeaderSize, static_cast<size_t>(base.offsetTableBytes),
                blocks.boneOffsetTable) &&
      ReadBlock(baseStream, baseHeader.skeletonInfoOffset, static_cast<size_t>(base.skeletonBytes),
                blocks.skeleton) &&
      ReadBlock(baseStream, baseHeader.frameArrayOffset,
                static_cast<size_t>(base.frameBytes * baseHeader.frameCount), blocks.baseFrames) &&
      ReadBlock(baseStream, baseHeader.boneArrayOffset, static_cast<size_t>(base.boneArrayBytes),
                blocks.baseBoneArray);
  if (!baseRead) return Failed(MergeError::kReadFailed, false);
  if (!ReadBlock(donorStream, donorHeader.boneArrayOffset,
                 static_cast<size_t>(donor.entryCount) * kBoneDataEntrySize,
                 blocks.donorBoneArray)) {
    return Failed(MergeError::kReadFailed, true);
  }

  BoneArrays arrays{blocks.baseBoneArray.data(), base.entryCount, blocks.donorBoneArray.data(),
                    donor.entryCount};
  StartRemap(blocks.remap, arrays, options.optimize);
  MergeOutcome collected = CollectSecondFileFrames(donorStream, donorHeader, donor, boneNameMap,
                                                   arrays, options, blocks);
  if (collected.error != MergeError::kNone) return collected;
  return WriteMergedFile(outputStream, baseHeader, donorHeader, blocks);
}

}  // namespace

MergeOutcome RunMerge(std::FILE* baseStream, std::FILE* donorStream, std::FILE* outputStream,
                      const AnimHeader& baseHeader, const AnimHeader& donorHeader,
                      const MergeOptions& options) {
  try {
    return Merge(baseStream, donorStream, outputStream, baseHeader, donorHeader, options);
  } catch (const std::bad_alloc&) {
    return Failed(MergeError::kOutOfMemory);
  } catch (const std::length_error&) {
    return Failed(MergeError::kOutOfMemory);
  }
}

}  // namespace bonesplice
