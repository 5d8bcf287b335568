// The merge: checks that a base and a donor file can be merged, then writes the base file with
// every donor frame but the first appended in base bone order, re-pointed into the output's
// bone array, followed by the donor entries those frames use.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/layout.h"
#include "merge/bone_map.h"
#include "merge/entry_index.h"

namespace bonesplice {

// What is wrong with a damaged input file.
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

enum class MergeError {
  kNone,
  kHeaderCheck,    // headerCheck: the headers do not pass CheckHeaders
  kDamaged,        // inDonor, damage
  kNoDonorFrames,  // the donor's frameCount is 0
  kNoBones,        // the files have no bones, so their frames hold nothing
  kMissingBone,    // boneName: a base bone the donor lacks
  kBadFrameIndex,  // frame, index, entryCount
  kTooLarge,       // an output index, entry count or offset does not fit the format
  kReadFailed,     // inDonor
  kOutOfMemory,
  kWriteFailed,
};

struct MergeOutcome {
  MergeError error = MergeError::kNone;
  HeaderCheck headerCheck = HeaderCheck::kOk;
  bool inDonor = false;
  Damage damage = Damage::kEndsInHeader;
  std::string boneName;
  uint64_t frame = 0;  // donor frame number as stored, counted from 0
  uint32_t index = 0;
  uint64_t entryCount = 0;
};

// Two files found fit to merge, and the bone correspondence between them.
struct MergePlan {
  FileLayout base;
  FileLayout donor;
  BoneNameMap boneNameMap;
};

// Checks everything about base and donor that can be known before their frames are remapped,
// in this order, and reports the first problem: CheckHeaders, the base's layout (header, offset
// table, skeleton block after the offset table, frames, bone array of whole entries inside the
// file), then the donor's (at least one frame, frames and bone array inside the file), bones at
// all, an output the format can describe, then the base skeleton (whole, and inside its block), the
// donor skeleton (whole) and a donor bone for every base bone. On success plan holds what RunMerge
// needs.
MergeOutcome PlanMerge(ByteView base, ByteView donor, MergePlan& plan);

// Where the merged file goes, written front to back.
class MergeOutput {
 public:
  virtual ~MergeOutput() = default;
  // Called once, before the first byte is written.
  virtual void Begin() {}
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Writes length bytes of the base file from offset.
  virtual bool CopyFromBase(uint64_t offset, uint64_t length) = 0;
  // True when the first bytes written can be written again at the end, as a file's can. The
  // merge then writes each donor frame as soon as it is re-pointed and the header's final
  // end offset last; otherwise it re-points every frame before it writes the first byte.
  virtual bool CanRewriteHeader() const { return false; }
  // Writes size bytes again at the start of the output.
  virtual bool RewriteHeader(const uint8_t*, size_t) { return false; }
};

// A merged file kept in memory; rewritable as a file unless asked to be written once, as a
// stream is.
class MemoryOutput : public MergeOutput {
 public:
  explicit MemoryOutput(ByteView base, bool rewritable = true)
      : base_(base), rewritable_(rewritable) {}
  void Begin() override { begun = true; }
  bool CanRewriteHeader() const override { return rewritable_; }
  bool RewriteHeader(const uint8_t* data, size_t size) override {
    if (!rewritable_ || size > bytes.size()) return false;
    std::copy(data, data + size, bytes.begin());
    return true;
  }
  bool Write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool CopyFromBase(uint64_t offset, uint64_t length) override {
    return Write(base_.data + offset, static_cast<size_t>(length));
  }
  std::vector<uint8_t> bytes;
  bool begun = false;

 private:
  ByteView base_;
  bool rewritable_;
};

struct MergeOptions {
  bool optimize = false;  // "-o": share byte-identical bone data entries
  HashKey hashKey;        // the entry index's key; only where entries are looked up changes
  // Called after donor frames first + 1 to first + count have been reordered and re-pointed.
  std::function<void(uint32_t first, uint32_t count)> onFramesDone;
};

// Merges the files that PlanMerge accepted into plan. A merge that fails may leave part of the
// output written (on an output that cannot rewrite its header, only a failed write does); the
// caller discards it. Memory stays within the remap tables and a few buffers: blocks are
// copied or streamed from the inputs.
MergeOutcome RunMerge(const MergePlan& plan, ByteView base, ByteView donor, MergeOutput& output,
                      const MergeOptions& options);

}  // namespace bonesplice
