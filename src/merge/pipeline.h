// The merge: reads the base and donor files, appends every donor frame but the first in base
// bone order, re-pointed into the output bone array, and writes the merged file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "format/header.h"

namespace bonesplice {

// What is wrong with a damaged input file.
enum class Damage {
  kEndsInHeader,
  kOffsetTablePastEnd,
  kSkeletonAfterFrames,
  kSkeletonShort,
  kFramesPastEnd,
  kBoneArrayAfterEnd,
  kBoneArrayPastEnd,
  kBoneArrayPartialEntry,
};

enum class MergeError {
  kNone,
  kDamaged,        // inSecondFile, damage
  kNoDonorFrames,  // the donor's frameCount is 0
  kNoBones,        // the files have no bones, so their frames hold nothing
  kMissingBone,    // boneName: a base bone the donor lacks
  kBadFrameIndex,  // frame, index, entryCount
  kTooLarge,       // an output index or offset does not fit the format
  kReadFailed,     // inSecondFile
  kOutOfMemory,
  kWriteFailed,  // the output may hold a partial file
};

struct MergeOutcome {
  MergeError error = MergeError::kNone;
  bool inSecondFile = false;
  Damage damage = Damage::kEndsInHeader;
  std::string boneName;
  uint64_t frame = 0;  // donor frame number as stored, counted from 0
  uint32_t index = 0;
  uint64_t entryCount = 0;
};

struct MergeOptions {
  bool optimize = false;  // "-o": share byte-identical bone data entries
  // Called with i after donor frame i + 1 has been reordered and re-pointed.
  std::function<void(uint32_t)> onFrameDone;
};

// Merges donor into base and writes the result to output, which must be freshly opened for
// binary writing. Both headers are as ReadHeader filled them. Every block is checked against
// its file and the whole output is assembled before its first byte is written, so an outcome
// other than kNone and kWriteFailed leaves output untouched.
MergeOutcome RunMerge(std::FILE* baseStream, std::FILE* donorStream, std::FILE* outputStream,
                      const AnimHeader& baseHeader, const AnimHeader& donorHeader,
                      const MergeOptions& options);

}  // namespace bonesplice
