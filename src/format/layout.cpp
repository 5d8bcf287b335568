#include "format/layout.h"

namespace bonesplice {

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

}  // namespace bonesplice
