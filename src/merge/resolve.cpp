#include "merge/resolve.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "merge/bone_map.h"
#include "merge/share.h"

namespace bonesplice {
namespace {

// Donor frames remapped together: enough that the reads of their remap slots overlap, few
// enough that their slots stay in the processor's cache until they are rewritten.
constexpr uint64_t kFramesPerBatch = 64;
// A batch never spans more bytes than this, however many bones the files have.
constexpr uint64_t kBatchBytes = uint64_t{1} << 20;
// Frames reordered by one worker at a time.
constexpr uint64_t kFramesPerPart = 4096;

// The appended frames being resolved: donor frames 1 onwards, each put into base bone order
// where the output keeps it, then re-pointed there.
struct AppendedFrames {
  uint8_t* records;
  uint64_t count;
  uint32_t fields;
  size_t frameBytes;

  uint8_t* Frame(uint64_t i) const { return records + i * frameBytes; }
};

// Resolves the frames batch after batch on this thread, reporting each batch as it is done, and
// rewrites each batch right after it while its slots are in the cache, or, with more than one
// worker, has another thread rewrite the batches done while this one goes on.
RemapResult RemapInOrder(const AppendedFrames& frames, const BoneArrays& arrays, RemapState& state,
                         const MergeOptions& options, const Workers& workers) {
  uint64_t batch = std::clamp<uint64_t>(kBatchBytes / frames.frameBytes, 1, kFramesPerBatch);
  bool rewriteBeside = workers.count() > 1;
  std::atomic<uint64_t> resolved{0};
  std::atomic<bool> ended{false};
  RemapResult result;
  auto resolve = [&] {
    struct EndMark {
      std::atomic<bool>& ended;
      ~EndMark() { ended.store(true, std::memory_order_release); }
    } endMark{ended};
    while (result.framesDone < frames.count && !result.failure) {
      uint64_t done = result.framesDone;
      uint64_t count = std::min(batch, frames.count - done);
      RemapResult batchResult =
          RemapFrames(frames.Frame(done), count, frames.fields, done + 1, arrays, state);
      if (options.onFramesDone && batchResult.framesDone > 0) {
        options.onFramesDone(static_cast<uint32_t>(done),
                             static_cast<uint32_t>(batchResult.framesDone));
      }
      result = {done + batchResult.framesDone, batchResult.failure};
      if (result.failure) break;
      if (rewriteBeside) {
        resolved.store(result.framesDone, std::memory_order_release);
      } else {
        RewriteFrames(frames.Frame(done), count, frames.fields, state.remapTable);
      }
    }
  };
  auto rewrite = [&] {
    uint64_t rewritten = 0;
    for (;;) {
      bool last = ended.load(std::memory_order_acquire);
      uint64_t upTo = resolved.load(std::memory_order_acquire);
      if (upTo > rewritten) {
        RewriteFrames(frames.Frame(rewritten), upTo - rewritten, frames.fields, state.remapTable);
        rewritten = upTo;
      } else if (last) {
        return;
      } else {
        std::this_thread::yield();
      }
    }
  };
  if (rewriteBeside) {
    workers.Beside(resolve, rewrite);
  } else {
    resolve();
  }
  return result;
}

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

  // Frame 0 is left out: appended frame i is donor frame i + 1.
  const size_t frameBytes = static_cast<size_t>(plan.donor.frameBytes);
  const uint64_t toAppend = donorHeader.frameCount - uint64_t{1};
  Table<uint8_t> appendedFrames(static_cast<size_t>(toAppend * frameBytes),
                                Table<uint8_t>::Use::kInOrder);
  AppendedFrames frames{appendedFrames.data(), toAppend, donorHeader.boneCount, frameBytes};
  workers.ForEach((toAppend + kFramesPerPart - 1) / kFramesPerPart, [&](size_t part, unsigned) {
    uint64_t first = part * kFramesPerPart;
    for (uint64_t i = first; i < std::min(toAppend, first + kFramesPerPart); ++i) {
      ReorderFrame(donor.data + donorHeader.frameArrayOffset + (i + 1) * frameBytes,
                   frames.Frame(i), plan.boneNameMap);
    }
  });
  RemapResult result = RemapInOrder(frames, arrays, state, options, workers);
  if (result.failure) return result.failure;

  std::optional<AnimHeader> header = OutputHeader(plan, state.appendedEntryList.count);
  if (!header) return TooLarge{};
  resolution.appendedFrames = std::move(appendedFrames);
  resolution.appendedEntryList = std::move(state.appendedEntryList);
  resolution.outputHeader = *header;
  return std::nullopt;
}

}  // namespace bonesplice
