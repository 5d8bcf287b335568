#include "merge_in_memory.h"

#include "app/messages.h"
#include "memory_output.h"
#include "merge/pipeline.h"

namespace testing_support {

std::vector<MergeMode> MergeModes() {
  std::vector<MergeMode> modes;
  for (bool optimize : {false, true}) {
    modes.push_back({optimize, 1, true});
    modes.push_back({optimize, 2, false});
    modes.push_back({optimize, 7, true});
  }
  return modes;
}

std::string NameOf(const MergeMode& mode) {
  return std::string(mode.optimize ? "-o" : "plain") + ", " + std::to_string(mode.threads) +
         (mode.threads == 1 ? " thread" : " threads") + (mode.atOffsets ? ", file" : ", stream");
}

MemoryMerge MergeInMemory(bonesplice::ByteView base, bonesplice::ByteView donor,
                          const MergeMode& mode, bonesplice::HashKey key) {
  MemoryMerge merge;
  bonesplice::MergeOptions options;
  options.optimize = mode.optimize;
  options.hashKey = key;
  options.threads = mode.threads;
  options.onFramesDone = [&merge](uint32_t first, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) merge.framesDone.push_back(first + i);
  };
  MemoryOutput output(base, mode.atOffsets);
  merge.failure = bonesplice::RunMerge(base, donor, output, options);
  merge.bytes = std::move(output.bytes);
  merge.begun = output.begun;
  return merge;
}

std::string Outcome(const std::optional<bonesplice::Failure>& failure) {
  return failure ? bonesplice::messages::MessageOf(*failure, "out.gla") : "merged";
}

std::vector<uint32_t> FirstFrames(uint32_t count) {
  std::vector<uint32_t> frames(count);
  for (uint32_t i = 0; i < count; ++i) frames[i] = i;
  return frames;
}

}  // namespace testing_support
