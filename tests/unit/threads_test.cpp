// The merge on several threads: the same output bytes, progress and failures as on one, with
// pieces written at their offsets (a file) or front to back (a stream).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "format/bytes.h"
#include "glagen/sample.h"
#include "memory_output.h"
#include "merge/pipeline.h"
#include "reference_merge.h"
#include "samples.h"

namespace {

using bonesplice::ByteView;
using bonesplice::Failure;

struct Pair {
  std::vector<uint8_t> base;
  std::vector<uint8_t> donor;
};

// A base and a donor with its bones shuffled, sharing and repeating entries; the donor's indices
// in first-use order when asked, as exporters write them.
Pair MakePair(uint64_t seed, uint32_t bones, uint32_t frames, uint32_t entries, bool firstUse) {
  glagen::GenerateOptions base;
  base.seed = seed;
  base.bones = bones;
  base.frames = frames;
  base.entries = entries;
  base.repeatShare = 0.25;
  glagen::SampleFile baseFile = glagen::GenerateSampleFile(base);
  glagen::GenerateOptions donor = base;
  donor.seed = seed + 1;
  donor.like = &baseFile;
  donor.shuffle = true;
  donor.sharedShare = 0.33;
  donor.firstUseOrder = firstUse;
  return {glagen::EncodeSampleFile(baseFile),
          glagen::EncodeSampleFile(glagen::GenerateSampleFile(donor))};
}

struct MergeRun {
  std::optional<Failure> failure;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> progress;  // the frame numbers reported, in order
};

MergeRun Merge(const Pair& pair, bool optimize, unsigned threads, bool atOffsets) {
  MergeRun run;
  ByteView base{pair.base.data(), pair.base.size()};
  ByteView donor{pair.donor.data(), pair.donor.size()};
  bonesplice::MergeOptions options;
  options.optimize = optimize;
  options.threads = threads;
  options.hashKey = {0x1234567u, 0x89ABCDEFu};
  options.onFramesDone = [&run](uint32_t first, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) run.progress.push_back(first + i);
  };
  testing_support::MemoryOutput output(base, atOffsets);
  run.failure = bonesplice::RunMerge(base, donor, output, options);
  run.bytes = std::move(output.bytes);
  return run;
}

TEST(Threads, AnyNumberGivesTheOutputOfTheReference) {
  const Pair pairs[] = {MakePair(11, 30, 300, 5000, false), MakePair(12, 40, 400, 3000, true),
                        MakePair(13, 3, 5, 20, false)};
  for (const Pair& pair : pairs) {
    for (bool optimize : {false, true}) {
      std::vector<uint8_t> expected = reference::ReferenceMerge(pair.base, pair.donor, optimize);
      for (unsigned threads : {1u, 2u, 7u}) {
        for (bool atOffsets : {true, false}) {
          SCOPED_TRACE(testing::Message() << "optimize " << optimize << ", threads " << threads
                                          << ", at offsets " << atOffsets);
          MergeRun run = Merge(pair, optimize, threads, atOffsets);
          ASSERT_FALSE(run.failure);
          EXPECT_EQ(run.bytes, expected);
          ASSERT_EQ(run.progress.size(), testing_support::HeaderOf(pair.donor).frameCount - 1u);
          for (size_t i = 0; i < run.progress.size(); ++i) EXPECT_EQ(run.progress[i], i);
        }
      }
    }
  }
}

// Large enough for several pieces of each kind and several partitions of entries: the output of
// one thread is every other count's, and the plain one is the reference's.
TEST(Threads, ManyPiecesGiveTheBytesOfOneThread) {
  Pair pair = MakePair(14, 40, 6000, 200000, true);
  for (bool optimize : {false, true}) {
    MergeRun one = Merge(pair, optimize, 1, false);
    ASSERT_FALSE(one.failure);
    ASSERT_GT(one.bytes.size(), size_t{4} << 20);
    if (!optimize) {  // the reference's "-o" takes seconds at this size
      EXPECT_TRUE(one.bytes == reference::ReferenceMerge(pair.base, pair.donor, false));
    }
    for (unsigned threads : {2u, 7u}) {
      for (bool atOffsets : {true, false}) {
        MergeRun run = Merge(pair, optimize, threads, atOffsets);
        EXPECT_FALSE(run.failure);
        EXPECT_TRUE(run.bytes == one.bytes) << "optimize " << optimize << ", threads " << threads;
      }
    }
  }
}

TEST(Threads, AnyNumberFailsAtTheSameFrame) {
  Pair pair = MakePair(21, 20, 200, 400, false);
  std::optional<glagen::SampleFile> donor = glagen::DecodeSampleFile(pair.donor);
  ASSERT_TRUE(donor);
  donor->frames[137][5] = 400;  // one past the donor's last entry
  pair.donor = glagen::EncodeSampleFile(*donor);
  for (bool optimize : {false, true}) {
    for (unsigned threads : {1u, 2u, 7u}) {
      MergeRun run = Merge(pair, optimize, threads, true);
      ASSERT_TRUE(run.failure && std::holds_alternative<bonesplice::BadFrameIndex>(*run.failure));
      const auto& bad = std::get<bonesplice::BadFrameIndex>(*run.failure);
      EXPECT_EQ(bad.frame, 137u);
      EXPECT_EQ(bad.index, 400u);
      EXPECT_EQ(run.progress.size(), 136u);
      EXPECT_TRUE(run.bytes.empty());
    }
  }
}

}  // namespace
