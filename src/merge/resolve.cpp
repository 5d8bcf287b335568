#include "merge/resolve.h"

#include <algorithm>

namespace bonesplice {
namespace {

// Donor frames remapped together: enough that the lookups of their first uses overlap, few
// enough that their fields and remap slots stay in the processor's cache between passes.
constexpr uint64_t kFramesPerBatch = 64;
// A batch never spans more bytes than this, however many bones the files have.
constexpr uint64_t kBatchBytes = uint64_t{1} << 20;

}  // namespace

std::optional<Failure> ResolveMerge(const MergePlan& plan, ByteView base, ByteView donor,
                                    const MergeOptions& options, Resolution& resolution) {
  const AnimHeader& donorHeader = plan.donor.header;
  BoneArrays arrays{base.data + plan.base.header.boneArrayOffset, plan.base.entryCount,
                    donor.data + donorHeader.boneArrayOffset, plan.donor.entryCount};
  const uint8_t* donorFrames = donor.data + donorHeader.frameArrayOffset;
  size_t frameBytes = static_cast<size_t>(plan.donor.frameBytes);
  RemapState state;
  StartRemap(state, arrays, options.optimize, options.hashKey);
  // Frame 0 is left out: appended frame i is donor frame i + 1.
  uint64_t toAppend = donorHeader.frameCount - uint64_t{1};
  Table<uint8_t> appendedFrames(static_cast<size_t>(toAppend * frameBytes));
  uint64_t batch = std::clamp<uint64_t>(kBatchBytes / frameBytes, 1, kFramesPerBatch);
  for (uint64_t done = 0; done < toAppend;) {
    uint32_t count = static_cast<uint32_t>(std::min(batch, toAppend - done));
    // The batch is put into base bone order where the output keeps it, then re-pointed there.
    uint8_t* records = appendedFrames.data() + done * frameBytes;
    for (uint32_t i = 0; i < count; ++i) {
      ReorderFrame(donorFrames + (done + 1 + i) * frameBytes, records + i * frameBytes,
                   plan.boneNameMap);
    }
    RemapResult result =
        RemapFrames(records, count, donorHeader.boneCount, done + 1, arrays, state);
    if (options.onFramesDone && result.framesDone > 0) {
      options.onFramesDone(static_cast<uint32_t>(done), result.framesDone);
    }
    if (result.failure) return result.failure;
    // The batch's remap slots are still in the processor's cache.
    RewriteFrames(records, count, donorHeader.boneCount, state.remapTable);
    done += count;
  }
  std::optional<AnimHeader> header = OutputHeader(plan, state.appendedEntryList.count);
  if (!header) return TooLarge{};
  resolution.appendedFrames = std::move(appendedFrames);
  resolution.appendedEntryList = std::move(state.appendedEntryList);
  resolution.outputHeader = *header;
  return std::nullopt;
}

}  // namespace bonesplice
