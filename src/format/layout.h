// Where the blocks of one animation file lie, as its header places them: the one decoder of the
// header and layout that the program, the sample generator, the reference merge, the fuzz
// targets and the tests share.
#pragma once

#include <cstdint>

#include "format/bytes.h"
#include "format/header.h"

namespace bonesplice {

// The header of a file and the sizes of its blocks. Nothing here says the blocks lie inside the
// file; the checks that do are the merge's (or a reader's) own.
struct FileLayout {
  AnimHeader header{};
  uint64_t fileSize = 0;
  bool wholeHeader = false;       // the file holds all 100 header bytes
  uint64_t offsetTableBytes = 0;  // the BoneOffsetTable: boneCount x 4, right after the header
  uint64_t skeletonBytes = 0;     // skeletonInfoOffset up to frameArrayOffset (0 if reversed)
  uint64_t frameBytes = 0;        // one FrameRecord: boneCount x 3
  uint64_t boneArrayBytes = 0;    // boneArrayOffset up to eofOffset (0 if reversed)
  uint32_t entryCount = 0;        // whole 14-byte entries in the bone array
};

FileLayout DecodeLayout(ByteView file);

// True when count frames from frameArrayOffset lie inside the file.
bool FramesFit(const FileLayout& layout, uint64_t count);

}  // namespace bonesplice
