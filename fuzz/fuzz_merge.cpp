// Fuzz target for the whole merge. An input holds two files: a 32-bit little-endian length n,
// then n bytes of base file (fewer when the input ends first), then the donor file. Both files
// go through the program's own steps, checks included, in plain and in optimize mode.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "fuzz_input.h"
#include "merge/pipeline.h"
#include "reference_merge.h"

namespace bonesplice::fuzz {
namespace {

// Plain merges go to an output that takes its header again, as a file does, optimized ones to
// one written once, as a stream is; the two ways of writing must give the same bytes.
MergeOutcome MergeOnce(const MemoryFile& base, const MemoryFile& donor, bool optimize) {
  MergePlan plan;
  MergeOutcome planned = PlanMerge(base.view(), donor.view(), plan);
  if (planned.error != MergeError::kNone) return planned;

  uint64_t framesDone = 0;
  MergeOptions options;
  options.optimize = optimize;
  options.hashKey = {0x0123456789ABCDEFull, optimize ? 7u : 0u};
  options.onFramesDone = [&framesDone](uint32_t first, uint32_t count) {
    Require(first == framesDone, "progress lines count up from 0");
    framesDone += count;
  };
  MemoryOutput output(base.view(), !optimize);
  MergeOutcome outcome = RunMerge(plan, base.view(), donor.view(), output, options);
  Require(outcome.error != MergeError::kWriteFailed, "a memory output takes every byte");
  if (outcome.error != MergeError::kNone) {
    Require(!optimize || (!output.begun && output.bytes.empty()),
            "a merge refused for its frames writes nothing to a stream");
    return outcome;
  }
  Require(framesDone == uint64_t{plan.donor.header.frameCount} - 1, "one progress line a frame");
  Require(!reference::WhyUnsoundOutput(output.bytes), "the output's header describes its blocks");
  Require(output.bytes == reference::ReferenceMerge(base.bytes(), donor.bytes(), optimize),
          "the output is the reference merge's");
  // The output holds the base's skeleton in its own block: it can serve as a base in turn.
  MergePlan again;
  MergeOutcome replanned =
      PlanMerge({output.bytes.data(), output.bytes.size()}, donor.view(), again);
  Require(replanned.error != MergeError::kDamaged || replanned.inDonor,
          "a merged file is a sound base");
  return outcome;
}

void MergeTwoFiles(const uint8_t* data, size_t size) {
  size_t baseSize = 0;
  if (size >= 4) baseSize = std::min<size_t>(LoadU32(data), size - 4);
  size_t donorStart = std::min<size_t>(size, 4) + baseSize;
  MemoryFile base(data + std::min<size_t>(size, 4), baseSize);
  MemoryFile donor(data + donorStart, size - donorStart);

  MergeOutcome plain = MergeOnce(base, donor, false);
  MergeOutcome optimized = MergeOnce(base, donor, true);
  // Sharing entries only makes the output smaller, so it cannot make a merge fail.
  if (plain.error != MergeError::kTooLarge) {
    Require(plain.error == optimized.error, "both modes agree on whether a merge can be done");
  }
}

}  // namespace
}  // namespace bonesplice::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bonesplice::fuzz::MergeTwoFiles(data, size);
  return 0;
}
