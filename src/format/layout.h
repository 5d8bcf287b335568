// Where the blocks of one animation file lie, as its header places them, and whether they lie
// where a merge needs them: the one decoder of the header and layout that the program, the
// sample generator, the reference merge, the fuzz targets and the tests share.
#pragma once

#include <cstdint>
#include <optional>

#include "format/bytes.h"
#include "format/header.h"
#include "format/skeleton.h"

namespace bonesplice {

// The header of a file and the sizes of its blocks. Nothing here says the blocks lie inside the
// file; CheckBaseLayout and CheckDonorLayout say that.
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

// What is wrong with a damaged input file: the first block that does not lie where the header
// and the format say.
enum class Damage {
  kEndsInHeader,
  kOffsetTablePastEnd,
  kSkeletonAfterFrames,
  kSkeletonOutsideBlock,
  kSkeletonShort,
  kFramesPastEnd,
  kBoneArrayAfterEnd,
  kBoneArrayPastEnd,
  kBoneArrayPartialEntry,
};

// A base gives every block to the output, so each must lie inside the file in the order the
// format expects: whole header, offset table, skeleton block after it, frames, and a bone array
// of whole entries.
std::optional<Damage> CheckBaseLayout(const FileLayout& layout);

// A donor gives only its frames and bone array, which must lie inside the file; stray bytes
// after its last whole entry are ignored.
std::optional<Damage> CheckDonorLayout(const FileLayout& layout);

// A skeleton must be whole; a base's must also end inside its skeleton block, which the output
// gets as the skeleton.
std::optional<Damage> CheckSkeleton(const BoneTable& table, const AnimHeader& header, bool base);

}  // namespace bonesplice
