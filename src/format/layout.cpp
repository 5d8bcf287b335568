#include "format/layout.h"

namespace bonesplice {
namespace {

std::optional<Damage> CheckBoneArray(const FileLayout& layout) {
  if (layout.header.boneArrayOffset > layout.header.eofOffset) return Damage::kBoneArrayAfterEnd;
  if (layout.header.eofOffset > layout.fileSize) return Damage::kBoneArrayPastEnd;
  return std::nullopt;
}

}  // namespace

FileLayout DecodeLayout(ByteView file) {
  FileLayout layout;
  layout.wholeHeader = ReadHeader(file, layout.header);
  layout.fileSize = file.size;
  const AnimHeader& header = layout.header;
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

bool FramesFit(const FileLayout& layout, uint64_t count) {
  uint64_t offset = layout.header.frameArrayOffset;
  if (offset > layout.fileSize) return false;
  return layout.frameBytes == 0 || count <= (layout.fileSize - offset) / layout.frameBytes;
}

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

std::optional<Damage> CheckDonorLayout(const FileLayout& layout) {
  if (!layout.wholeHeader) return Damage::kEndsInHeader;
  if (!FramesFit(layout, layout.header.frameCount)) return Damage::kFramesPastEnd;
  return CheckBoneArray(layout);
}

std::optional<Damage> CheckSkeleton(const BoneTable& table, const AnimHeader& header, bool base) {
  if (!IsWholeSkeleton(table, header)) return Damage::kSkeletonShort;
  if (base && table.endOffset > header.frameArrayOffset) return Damage::kSkeletonOutsideBlock;
  return std::nullopt;
}

}  // namespace bonesplice
