// The merge's phases run in this process on files from the sample generator, compared byte for
// byte with the reference merge: the worked example, generated pairs of every kind, files of
// odd shapes, the bone-name rules, the limits of the format, and each refusal with its details.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "merge/pipeline.h"
#include "merge/table.h"
#include "merge_in_memory.h"
#include "reference_merge.h"
#include "samples.h"

namespace {

using namespace testing_support;
using bonesplice::AnimHeader;
using bonesplice::Damage;
using bonesplice::FileDamaged;
using bonesplice::FileRole;
using Bytes = std::vector<uint8_t>;
constexpr FileRole kBase = FileRole::kBase;
constexpr FileRole kDonor = FileRole::kDonor;

glagen::Entry Entry(uint8_t seed) {
  glagen::Entry entry;
  for (size_t i = 0; i < entry.size(); ++i) entry[i] = static_cast<uint8_t>(seed + 17 * i);
  return entry;
}

// Childless bones of the given names, and the frames and entries given.
glagen::SampleFile FileOf(const std::vector<std::string>& names,
                          const std::vector<std::vector<uint32_t>>& frames,
                          const std::vector<glagen::Entry>& entries) {
  glagen::SampleFile file;
  file.scale = 1.5f;
  for (const std::string& name : names) {
    file.bones.emplace_back();
    file.bones.back().name = name;
  }
  file.frames = frames;
  file.entries = entries;
  return file;
}

// Merges in every mode and expects the reference's output, every frame reported in order.
void ExpectReferenceOutput(const Bytes& base, const Bytes& donor,
                           bonesplice::HashKey key = kTestKey) {
  for (const MergeMode& mode : MergeModes()) {
    SCOPED_TRACE(NameOf(mode));
    MemoryMerge merge = MergeInMemory(ViewOf(base), ViewOf(donor), mode, key);
    ASSERT_EQ(Outcome(merge.failure), "merged");
    EXPECT_EQ(merge.begun, 1);
    EXPECT_EQ(merge.framesDone, FirstFrames(HeaderOf(donor).frameCount - 1));
    EXPECT_TRUE(merge.bytes == reference::ReferenceMerge(base, donor, mode.optimize));
  }
}

// Base: 2 childless bones, 3 frames, entries B0..B3 (skeleton at 108, frames at 452, bone array
// at 470, end at 526). Donor: the same bones, frames (0, 1), (1, 0), (2, 1) and entries D0,
// D1 = B2, D2 = D0. The output is the base with two frames and the appended entries added.
TEST(Merge, WorkedExampleByteForByteInBothModes) {
  std::vector<glagen::Entry> b = {Entry(1), Entry(2), Entry(3), Entry(4)};
  glagen::Entry d0 = Entry(99);
  glagen::SampleFile base = FileOf({"pelvis", "spine"}, {{0, 1}, {2, 3}, {3, 0}}, b);
  Bytes baseBytes = glagen::EncodeSampleFile(base);
  Bytes donor = glagen::EncodeSampleFile(
      FileOf({"pelvis", "spine"}, {{0, 1}, {1, 0}, {2, 1}}, {d0, b[2], d0}));
  AnimHeader header = HeaderOf(baseBytes);
  ASSERT_EQ(header.skeletonInfoOffset, 108u);
  ASSERT_EQ(header.frameArrayOffset, 452u);
  ASSERT_EQ(header.boneArrayOffset, 470u);
  ASSERT_EQ(header.eofOffset, 526u);

  struct Case {
    bool optimize;
    std::vector<std::vector<uint32_t>> frames;
    std::vector<glagen::Entry> appended;
    uint32_t eof;
  };
  const Case cases[] = {{false, {{4, 5}, {6, 4}}, {b[2], d0, d0}, 580},
                        {true, {{2, 4}, {4, 2}}, {d0}, 552}};
  for (const Case& c : cases) {
    MemoryMerge merge = MergeInMemory(ViewOf(baseBytes), ViewOf(donor), MergeMode{c.optimize});
    ASSERT_EQ(Outcome(merge.failure), "merged");
    EXPECT_EQ(merge.framesDone, FirstFrames(2));
    glagen::SampleFile expected = base;
    expected.frames.insert(expected.frames.end(), c.frames.begin(), c.frames.end());
    expected.entries.insert(expected.entries.end(), c.appended.begin(), c.appended.end());
    EXPECT_EQ(merge.bytes, glagen::EncodeSampleFile(expected)) << "optimize " << c.optimize;
    EXPECT_EQ(HeaderOf(merge.bytes).boneArrayOffset, 482u);
    EXPECT_EQ(HeaderOf(merge.bytes).eofOffset, c.eof);
  }
}

// Generated pairs of every kind against the reference, in every mode.
TEST(Merge, GeneratedPairsMatchTheReference) {
  struct Case {
    const char* label;
    uint64_t seed;
    uint32_t bones, baseFrames, donorFrames, baseEntries, donorEntries;
    double shared, repeat;
    bool shuffle;
  };
  const Case cases[] = {
      {"shuffled bones, shared and repeated entries", 11, 70, 20, 40, 3000, 3000, 0.33, 0.5, true},
      {"few bones, many frames", 12, 5, 3, 400, 5000, 5000, 0.5, 0.9, true},
      {"bones in the same order, nothing shared", 13, 30, 1, 60, 200, 200, 0, 0, false},
      {"one bone", 14, 1, 2, 2000, 1500, 1500, 0.9, 0.3, false},
      // About 8000 entries appended to 10: the entry index grows four times.
      {"entry index grown several times", 15, 70, 2, 150, 10, 20000, 0, 0.1, true},
      // About 22000 entries appended: more than one piece of the output holds.
      {"appended entries of several pieces", 19, 70, 2, 400, 10, 60000, 0, 0, true},
      // Donor indices and output indices of 65536 and more, in all three bytes of a field.
      {"indices past 16 bits", 18, 6, 4, 50, 70000, 70000, 0.3, 0.2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    glagen::SampleFile base =
        Generate(c.seed, c.bones, c.baseFrames, c.baseEntries, "base", nullptr, 0, false, c.repeat);
    Bytes donor =
        glagen::EncodeSampleFile(Generate(c.seed + 100, c.bones, c.donorFrames, c.donorEntries,
                                          "donor", &base, c.shared, c.shuffle, c.repeat));
    ExpectReferenceOutput(glagen::EncodeSampleFile(base), donor);
  }
}

// Entries crafted to share one hash under the unkeyed function: the probes overflow into the
// index's ordered map, which must keep the first of equal base entries and survive the index
// growing. "-o" still gives the reference's output.
TEST(Merge, EntriesCraftedToCollideStillShareAsTheReferenceDoes) {
  glagen::GenerateOptions baseOptions;
  baseOptions.seed = 70;
  baseOptions.frames = 3;
  baseOptions.entries = 1000;
  baseOptions.repeatShare = 0.3;
  baseOptions.colliding = true;
  glagen::SampleFile base = glagen::GenerateSampleFile(baseOptions);
  glagen::GenerateOptions donorOptions = baseOptions;
  donorOptions.seed = 71;
  donorOptions.frames = 60;
  donorOptions.like = &base;
  donorOptions.entries = 3000;
  donorOptions.repeatShare = 0.2;
  donorOptions.sharedShare = 0.2;
  donorOptions.shuffle = true;
  ExpectReferenceOutput(glagen::EncodeSampleFile(base),
                        glagen::EncodeSampleFile(glagen::GenerateSampleFile(donorOptions)),
                        bonesplice::HashKey{});
}

TEST(Merge, FilesOfOddShapesMatchTheReference) {
  glagen::SampleFile baseFile = Generate(16, 4, 3, 20, "base");
  Bytes sound = glagen::EncodeSampleFile(baseFile);
  AnimHeader header = HeaderOf(sound);
  Bytes donor = glagen::EncodeSampleFile(Generate(17, 4, 5, 20, "donor", &baseFile, 0.5, true));

  // A donor of one frame gives the base back.
  Bytes oneFrame = glagen::EncodeSampleFile(Generate(6, 4, 1, 20, "donor", &baseFile, 0, true));
  for (const MergeMode& mode : MergeModes()) {
    EXPECT_EQ(MergeInMemory(ViewOf(sound), ViewOf(oneFrame), mode).bytes, sound);
  }
  // A base without entries: its frames end the file, and every index the appended frames use is
  // an appended entry's.
  Bytes noEntries(sound.begin(), sound.begin() + header.boneArrayOffset);
  EditHeader(noEntries, [](AnimHeader& h) { h.eofOffset = h.boneArrayOffset; });
  ExpectReferenceOutput(noEntries, donor);

  // Filler before the skeleton, the frames and the bone array: the filler before the frames
  // belongs to the skeleton block and is kept; the output's offsets describe the output.
  Bytes gapped = sound;
  for (uint32_t at : {header.boneArrayOffset, header.frameArrayOffset, header.skeletonInfoOffset}) {
    gapped.insert(gapped.begin() + at, 5, 0xEE);
  }
  EditHeader(gapped, [&](AnimHeader& h) {
    h.skeletonInfoOffset += 5, h.frameArrayOffset += 10, h.boneArrayOffset += 15;
    h.eofOffset += 15;
  });
  ExpectReferenceOutput(gapped, donor);
}

// Bones are matched by exact name, the first donor bone of a name winning; two base bones of one
// name take the same donor bone. Field j of donor frame f names entry 3 f + j, so that the output
// shows which donor field went where.
TEST(Merge, BonesAreMatchedByTheirExactNames) {
  struct Case {
    std::vector<std::string> base;
    std::vector<std::string> donor;
    std::string missing;  // empty: the files merge
  };
  const Case cases[] = {
      {{"root", "spine", "head"}, {"head", "root", "spine"}, ""},
      {{"root", "arm", "arm"}, {"arm", "root", "arm"}, ""},
      {{"Root", "arm", "leg"}, {"root", "arm", "leg"}, "Root"},
      {{"a", "b", "c"}, {"c", "c", "a"}, "b"},
  };
  std::vector<glagen::Entry> entries;
  for (uint8_t i = 0; i < 9; ++i) entries.push_back(Entry(i));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base[0] + " " + c.base[1] + " " + c.base[2]);
    Bytes base =
        glagen::EncodeSampleFile(FileOf(c.base, {{0, 1, 2}}, {Entry(0), Entry(1), Entry(2)}));
    Bytes donor =
        glagen::EncodeSampleFile(FileOf(c.donor, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}, entries));
    if (c.missing.empty()) {
      ExpectReferenceOutput(base, donor);
      continue;
    }
    for (const MergeMode& mode : MergeModes()) {
      MemoryMerge merge = MergeInMemory(ViewOf(base), ViewOf(donor), mode);
      EXPECT_EQ(Outcome(merge.failure), Outcome(bonesplice::MissingBone{c.missing}));
      EXPECT_EQ(merge.begun, 0);
    }
  }
}

// A change made to a sound pair: to its base, its donor or both.
using Change = std::function<void(Bytes& base, Bytes& donor)>;
using HeaderEdit = std::function<void(AnimHeader&)>;
Change Base(const HeaderEdit& edit) {
  return [edit](Bytes& base, Bytes&) { EditHeader(base, edit); };
}
Change Donor(const HeaderEdit& edit) {
  return [edit](Bytes&, Bytes& donor) { EditHeader(donor, edit); };
}
Change Both(const HeaderEdit& edit) {
  return [edit](Bytes& base, Bytes& donor) { EditHeader(base, edit), EditHeader(donor, edit); };
}

// Each refusal, as its kind and details, with nothing written to the output. The files have
// three bones, the donor 5 frames and 20 entries.
TEST(Merge, RefusalsNameTheFirstProblemAndWriteNothing) {
  glagen::SampleFile baseFile = Generate(20, 3, 4, 20, "base");
  glagen::SampleFile donorFile = Generate(21, 3, 5, 20, "donor", &baseFile, 0.3, true);
  auto base = [](Damage damage) -> bonesplice::Failure { return FileDamaged{kBase, damage}; };
  auto donor = [](Damage damage) -> bonesplice::Failure { return FileDamaged{kDonor, damage}; };
  struct Case {
    const char* label;
    Change change;
    bonesplice::Failure failure;
  };
  const Case cases[] = {
      {"empty base", [](Bytes& b, Bytes&) { b.clear(); },
       bonesplice::HeadersRefused{bonesplice::HeaderCheck::kBaseNotAnimation}},
      {"base cut before its bone count", [](Bytes& b, Bytes&) { b.resize(60); },
       bonesplice::HeadersRefused{bonesplice::HeaderCheck::kBoneCountsDiffer}},
      {"both cut in their headers", [](Bytes& b, Bytes& d) { b.resize(60), d.resize(60); },
       base(Damage::kEndsInHeader)},
      {"donor cut in its last header field", [](Bytes&, Bytes& d) { d.resize(99); },
       donor(Damage::kEndsInHeader)},
      {"offset table past the end", Both([](AnimHeader& h) { h.boneCount = 0x40000000u; }),
       base(Damage::kOffsetTablePastEnd)},
      {"skeleton after the frames",
       Base([](AnimHeader& h) { h.skeletonInfoOffset = h.frameArrayOffset + 1; }),
       base(Damage::kSkeletonAfterFrames)},
      {"skeleton in the offset table", Base([](AnimHeader& h) { h.skeletonInfoOffset -= 4; }),
       base(Damage::kSkeletonOutsideBlock)},
      {"base frames past the end", Base([](AnimHeader& h) { h.frameCount = 0xFFFFFFFFu; }),
       base(Damage::kFramesPastEnd)},
      {"base bone array after its end",
       Base([](AnimHeader& h) { h.boneArrayOffset = h.eofOffset + 14; }),
       base(Damage::kBoneArrayAfterEnd)},
      {"base one byte short", [](Bytes& b, Bytes&) { b.pop_back(); },
       base(Damage::kBoneArrayPastEnd)},
      {"base bone array of partial entries", Base([](AnimHeader& h) { ++h.boneArrayOffset; }),
       base(Damage::kBoneArrayPartialEntry)},
      {"donor without frames", Donor([](AnimHeader& h) { h.frameCount = 0; }),
       bonesplice::NoDonorFrames{}},
      {"donor frames one past the end",
       Donor([](AnimHeader& h) { h.frameCount = (h.eofOffset - h.frameArrayOffset) / 9 + 1; }),
       donor(Damage::kFramesPastEnd)},
      {"donor bone array after its end",
       Donor([](AnimHeader& h) { h.boneArrayOffset = h.eofOffset + 1; }),
       donor(Damage::kBoneArrayAfterEnd)},
      {"donor bone array past the end", Donor([](AnimHeader& h) { ++h.eofOffset; }),
       donor(Damage::kBoneArrayPastEnd)},
      {"no bones, in files of their headers alone",
       [](Bytes& b, Bytes& d) {
         b.resize(100), d.resize(100);
         Both([](AnimHeader& h) {
           h.boneCount = 0;
           h.skeletonInfoOffset = h.frameArrayOffset = h.boneArrayOffset = h.eofOffset = 100;
         })(b, d);
       },
       bonesplice::NoBones{}},
      {"base skeleton ends early",  // its last bone claims more children than the file holds
       [](Bytes& b, Bytes&) {
         bonesplice::StoreU32(&b[HeaderOf(b).frameArrayOffset - 4], 0x7FFFFFFF);
       },
       base(Damage::kSkeletonShort)},
      {"base skeleton one byte into the frames", Base([](AnimHeader& h) { --h.frameArrayOffset; }),
       base(Damage::kSkeletonOutsideBlock)},
      {"donor skeleton ends early",
       Donor([](AnimHeader& h) { h.skeletonInfoOffset = h.eofOffset - 10; }),
       donor(Damage::kSkeletonShort)},
      {"base bone missing from the donor",
       [](Bytes&, Bytes& d) { d[HeaderOf(d).skeletonInfoOffset] = 'Q'; },
       bonesplice::MissingBone{donorFile.bones[0].name}},
      {"frame 2 naming a missing entry",
       [](Bytes&, Bytes& d) { bonesplice::StoreU24(&d[HeaderOf(d).frameArrayOffset + 21], 20); },
       bonesplice::BadFrameIndex{2, 20, 20}},
      {"frame 3 naming five stray bytes after the last entry",
       [](Bytes&, Bytes& d) {
         bonesplice::StoreU24(&d[HeaderOf(d).frameArrayOffset + 27], 20);
         d.insert(d.end(), 5, 0xAB);
         EditHeader(d, [](AnimHeader& h) { h.eofOffset += 5; });
       },
       bonesplice::BadFrameIndex{3, 20, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes baseBytes = glagen::EncodeSampleFile(baseFile);
    Bytes donorBytes = glagen::EncodeSampleFile(donorFile);
    c.change(baseBytes, donorBytes);
    for (const MergeMode& mode : MergeModes()) {
      MemoryMerge merge = MergeInMemory(ViewOf(baseBytes), ViewOf(donorBytes), mode);
      EXPECT_EQ(Outcome(merge.failure), Outcome(c.failure)) << NameOf(mode);
      EXPECT_EQ(merge.begun, 0);
    }
  }
}

// Frames are re-pointed in batches; a damaged frame must still stop the merge with exactly the
// frames before it reported, wherever it lies in a batch.
TEST(Merge, ADamagedFrameStopsTheMergeAfterTheFramesBeforeIt) {
  glagen::SampleFile baseFile = Generate(30, 4, 3, 50, "base");
  Bytes base = glagen::EncodeSampleFile(baseFile);
  for (uint32_t damagedFrame : {1u, 64u, 65u, 100u, 199u}) {
    glagen::SampleFile donorFile = Generate(31, 4, 200, 60, "donor", &baseFile, 0.3, true, 0.3);
    donorFile.frames[damagedFrame][2] = 70;
    Bytes donor = glagen::EncodeSampleFile(donorFile);
    for (const MergeMode& mode : MergeModes()) {
      SCOPED_TRACE(std::to_string(damagedFrame) + " " + NameOf(mode));
      MemoryMerge merge = MergeInMemory(ViewOf(base), ViewOf(donor), mode);
      EXPECT_EQ(Outcome(merge.failure), Outcome(bonesplice::BadFrameIndex{damagedFrame, 70, 60}));
      EXPECT_EQ(merge.framesDone, FirstFrames(damagedFrame - 1));
      EXPECT_EQ(merge.begun, 0);
    }
  }
}

// The limits of the format: at most 2^24 entries, base entries included, and 4 GiB. The bases
// are as large as the limits, but only the pages of their first blocks are ever touched. Only
// Check and Resolve run: the output would be the base's blocks, copied. "-o" would index all of
// the base entries, so these run in plain mode.
TEST(Merge, OutputsPastTheFormatsLimitsAreRefused) {
  constexpr uint64_t kIndexLimit = bonesplice::kMaxBoneDataEntries;
  constexpr uint64_t kGap = (uint64_t{1} << 32) - 490;  // leaves the base 32 bytes short of 4 GiB
  const Bytes sample = glagen::EncodeSampleFile(FileOf({"pelvis", "spine"}, {{0, 0}}, {}));
  struct Case {
    const char* label;
    uint64_t baseEntries;  // zero entries in the base's bone array, which starts at 458
    uint64_t gap;          // zero bytes added to the base's skeleton block
    uint32_t donorFrames;  // frame f > 0 uses entry min(f - 1, newEntries - 1)
    uint32_t newEntries;
    std::optional<bonesplice::Failure> failure;
    uint32_t framesReported;
    uint64_t outputSize;  // when merged
  };
  const bonesplice::TooLarge tooLarge;
  const Case cases[] = {
      {"all the base entries an index names", kIndexLimit, 0, 1, 1, {}, 0, 458 + 14 * kIndexLimit},
      {"one base entry more", kIndexLimit + 1, 0, 1, 1, tooLarge, 0, 0},
      {"the last index appended", kIndexLimit - 1, 0, 2, 1, {}, 1, 478 + 14 * (kIndexLimit - 1)},
      {"an index past 24 bits appended", kIndexLimit - 2, 0, 4, 3, tooLarge, 2, 0},
      {"an output of 4 GiB less 6 bytes", 0, kGap, 3, 1, {}, 2, (uint64_t{1} << 32) - 6},
      // Its frames fit, its appended entry does not: known once every frame is resolved.
      {"an output of 4 GiB", 0, kGap, 4, 1, tooLarge, 3, 0},
      {"an output past 4 GiB in its frames alone", 0, kGap, 7, 1, tooLarge, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    uint64_t size = sample.size() + c.gap + 14 * c.baseEntries;
    bonesplice::Table<uint8_t> base;
    try {
      base = bonesplice::Table<uint8_t>(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      GTEST_SKIP() << "no room for a base of " << size << " bytes in this process";
    }
    AnimHeader header = HeaderOf(sample);
    header.frameArrayOffset += static_cast<uint32_t>(c.gap);
    header.boneArrayOffset += static_cast<uint32_t>(c.gap);
    header.eofOffset = static_cast<uint32_t>(size);
    std::array<uint8_t, bonesplice::kHeaderSize> encoded = bonesplice::EncodeHeader(header);
    std::copy(sample.begin(), sample.end(), base.data());
    std::copy(encoded.begin(), encoded.end(), base.data());
    std::vector<std::vector<uint32_t>> frames = {{0, 0}};
    for (uint32_t f = 1; f < c.donorFrames; ++f) {
      frames.push_back(std::vector<uint32_t>(2, std::min(f - 1, c.newEntries - 1)));
    }
    Bytes donor = glagen::EncodeSampleFile(
        FileOf({"spine", "pelvis"}, frames, {Entry(7), Entry(8), Entry(9)}));

    bonesplice::ByteView baseView{base.data(), base.size()};
    bonesplice::MergePlan plan;
    bonesplice::MergeOptions options;
    std::vector<uint32_t> framesDone;
    options.onFramesDone = [&](uint32_t first, uint32_t count) {
      for (uint32_t i = 0; i < count; ++i) framesDone.push_back(first + i);
    };
    bonesplice::Resolution resolution;
    std::optional<bonesplice::Failure> failure =
        bonesplice::PlanMerge(baseView, ViewOf(donor), plan);
    if (!failure) {
      failure = bonesplice::ResolveMerge(plan, baseView, ViewOf(donor), options, resolution);
    }
    EXPECT_EQ(Outcome(failure), Outcome(c.failure));
    EXPECT_EQ(framesDone, FirstFrames(c.framesReported));
    if (!failure) {
      EXPECT_EQ(resolution.outputHeader.eofOffset, c.outputSize);
    }
  }
}

}  // namespace
