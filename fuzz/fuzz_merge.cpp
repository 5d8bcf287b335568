// Fuzz target for the whole merge. An input holds two files: a 32-bit little-endian length n,
// then n bytes of base file (fewer when the input ends first), then the donor file. Both files
// go through the program's own steps, checks included, in plain and in optimize mode.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "fuzz_input.h"
#include "memory_output.h"
#include "merge/pipeline.h"
#include "reference_merge.h"

namespace bonesplice::fuzz {
namespace {

using testing_support::MemoryOutput;

// Runs the three phases on one pair in one mode; the failure, if any.
std::optional<Failure> MergeOnce(const MemoryFile& base, const MemoryFile& donor, bool optimize) {
  MergePlan plan;
  if (auto failure = PlanMerge(base.view(), donor.view(), plan)) return failure;
  uint64_t framesDone = 0;
  MergeOptions options;
  options.optimize = optimize;
  options.hashKey = {0x0123456789ABCDEFull, optimize ? 7u : 0u};
  options.threads = optimize ? 2 : 1;
  options.onFramesDone = [&framesDone](uint32_t first, uint32_t count) {
    Require(first == framesDone, "progress lines count up from 0");
    framesDone += count;
  };
  Resolution resolution;
  if (auto failure = ResolveMerge(plan, base.view(), donor.view(), options, resolution)) {
    Require(std::holds_alternative<BadFrameIndex>(*failure) ||
                std::holds_alternative<TooLarge>(*failure),
            "Resolve fails only for a bad index or a too large output");
    return failure;
  }
  Require(framesDone == uint64_t{plan.donor.header.frameCount} - 1, "one progress line a frame");
  // A stream for "-o", a file otherwise, on one thread or three.
  MemoryOutput output(base.view(), !optimize);
  Require(!EmitMerge(plan, resolution, donor.view(), output, optimize ? 1 : 3),
          "a memory output takes every byte");
  Require(output.begun == 1, "the output is begun once");
  Require(!reference::WhyUnsoundOutput(output.bytes), "the output's header describes its blocks");
  Require(output.bytes == reference::ReferenceMerge(base.bytes(), donor.bytes(), optimize),
          "the output is the reference merge's");
  // The output holds the base's skeleton in its own block: it can serve as a base in turn.
  MergePlan again;
  std::optional<Failure> replanned =
      PlanMerge({output.bytes.data(), output.bytes.size()}, donor.view(), again);
  Require(!replanned || !std::holds_alternative<FileDamaged>(*replanned) ||
              std::get<FileDamaged>(*replanned).file == FileRole::kDonor,
          "a merged file is a sound base");
  return std::nullopt;
}

void MergeTwoFiles(const uint8_t* data, size_t size) {
  size_t baseSize = 0;
  if (size >= 4) baseSize = std::min<size_t>(LoadU32(data), size - 4);
  size_t donorStart = std::min<size_t>(size, 4) + baseSize;
  MemoryFile base(data + std::min<size_t>(size, 4), baseSize);
  MemoryFile donor(data + donorStart, size - donorStart);

  std::optional<Failure> plain = MergeOnce(base, donor, false);
  std::optional<Failure> optimized = MergeOnce(base, donor, true);
  // Sharing entries only makes the output smaller, so it cannot make a merge fail.
  if (!plain || !std::holds_alternative<TooLarge>(*plain)) {
    Require(plain.has_value() == optimized.has_value() &&
                (!plain || plain->index() == optimized->index()),
            "both modes agree on whether a merge can be done");
  }
}

}  // namespace
}  // namespace bonesplice::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bonesplice::fuzz::MergeTwoFiles(data, size);
  return 0;
}
