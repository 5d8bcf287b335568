#include "merge/resolve.h"

#include <algorithm>
#include <vector>

#include "merge/bone_map.h"
#include "merge/share.h"

namespace bonesplice {
namespace {

// Donor frames remapped together: enough that the reads of their remap slots overlap.
constexpr uint64_t kFramesPerBatch = 64;
// A batch never spans more bytes than this, however many bones the files have.
constexpr uint64_t kBatchBytes = uint64_t{1} << 20;

}  // namespace

std::optional<Failure> ResolveMerge(const MergePlan& plan, ByteView base, ByteView donor,
                                    const MergeOptions& options, Resolution& resolution) {
  const AnimHeader& donorHeader = plan.donor.header;
  BoneArrays arrays{base.data + plan.base.header.boneArrayOffset, plan.base.entryCount,
                    donor.data + donorHeader.boneArrayOffset, plan.donor.entryCount};
  Workers workers(options.threads);
  RemapState state;
  StartRemap(state, arrays, workers);
  if (options.optimize) ShareEqualEntries(arrays, options.hashKey, workers, state.remapTable);
  StartAppending(state, arrays);

  // Frame 0 is left out: appended frame i is donor frame i + 1. Each batch is put into base bone
  // order in a buffer of its own, then the indices its frames use first are resolved.
  DonorFrames frames{donor.data + donorHeader.frameArrayOffset, plan.donor.frameBytes,
                     &plan.boneNameMap};
  const uint64_t toAppend = donorHeader.frameCount - uint64_t{1};
  const uint64_t batch = std::clamp<uint64_t>(kBatchBytes / frames.frameBytes, 1, kFramesPerBatch);
  std::vector<uint8_t> records(static_cast<size_t>(std::min(batch, toAppend) * frames.frameBytes));
  for (uint64_t done = 0; done < toAppend;) {
    uint64_t count = std::min(batch, toAppend - done);
    frames.Reorder(done + 1, count, records.data());
    RemapResult result =
        RemapFrames(records.data(), count, donorHeader.boneCount, done + 1, arrays, state);
    if (options.onFramesDone && result.framesDone > 0) {
      options.onFramesDone(static_cast<uint32_t>(done), static_cast<uint32_t>(result.framesDone));
    }
    if (result.failure) return result.failure;
    done += count;
  }

  std::optional<AnimHeader> header = OutputHeader(plan, state.appendedEntryList.count);
  if (!header) return TooLarge{};
  resolution.remapTable = std::move(state.remapTable);
  resolution.appendedEntryList = std::move(state.appendedEntryList);
  resolution.outputHeader = *header;
  return std::nullopt;
}

}  // namespace bonesplice
