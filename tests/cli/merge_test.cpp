// The merged output as users get it from the real program: exact bytes, console text and
// exit status, for the worked example, generated files of every kind, and each refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "format/bytes.h"
#include "reference_merge.h"
#include "run_program.h"
#include "samples.h"

namespace {

using namespace testing_support;
namespace messages = bonesplice::messages;
namespace fs = std::filesystem;

glagen::Entry Entry(uint8_t seed) {
  glagen::Entry entry;
  for (size_t i = 0; i < entry.size(); ++i) entry[i] = static_cast<uint8_t>(seed + 17 * i);
  return entry;
}

glagen::SampleFile TwoBoneFile(const std::string& name,
                               const std::vector<std::vector<uint32_t>>& frames,
                               const std::vector<glagen::Entry>& entries) {
  glagen::SampleFile file;
  file.name = name;
  file.scale = 1.5f;
  file.bones.resize(2);
  file.bones[0].name = "pelvis";
  file.bones[1].name = "spine";
  file.bones[1].parent = 0;
  file.frames = frames;
  file.entries = entries;
  return file;
}

std::vector<uint8_t> Indices(const std::vector<uint32_t>& indices) {
  std::vector<uint8_t> bytes;
  for (uint32_t index : indices) {
    bytes.insert(bytes.end(), {uint8_t(index), uint8_t(index >> 8), uint8_t(index >> 16)});
  }
  return bytes;
}

std::vector<uint8_t> Bytes(const std::vector<glagen::Entry>& entries) {
  std::vector<uint8_t> bytes;
  for (const glagen::Entry& e : entries) bytes.insert(bytes.end(), e.begin(), e.end());
  return bytes;
}

RunResult Merge(const ScratchDir& dir, bool optimize, const std::string& base = "base.gla",
                const std::string& donor = "donor.gla") {
  std::vector<std::string> args = {base, donor};
  if (optimize) args.push_back("-o");
  return RunBonesplice(dir.path(), args, "out.gla\n");
}

// Base: 2 childless bones, 3 frames, entries B0..B3. Donor: the same bones, frames (0, 1),
// (1, 0), (2, 1) and entries D0, D1 = B2, D2 = D0.
TEST(Merge, WorkedExampleByteForByteInBothModes) {
  ScratchDir dir;
  std::vector<glagen::Entry> b = {Entry(1), Entry(2), Entry(3), Entry(4)};
  glagen::Entry d0 = Entry(99);
  std::vector<uint8_t> base =
      WriteSample(dir / "base.gla", TwoBoneFile("base", {{0, 1}, {2, 3}, {3, 0}}, b));
  WriteSample(dir / "donor.gla", TwoBoneFile("donor", {{0, 1}, {1, 0}, {2, 1}}, {d0, b[2], d0}));
  ASSERT_EQ(WordAt(base, kSkeletonAt), 108u);
  ASSERT_EQ(WordAt(base, kFrameArrayAt), 452u);
  ASSERT_EQ(WordAt(base, kBoneArrayAt), 470u);
  ASSERT_EQ(WordAt(base, kEofAt), 526u);

  struct Case {
    bool optimize;
    std::vector<uint32_t> frames;
    std::vector<glagen::Entry> appended;
    uint32_t eof;
  };
  const Case cases[] = {{false, {4, 5, 6, 4}, {b[2], d0, d0}, 580},
                        {true, {2, 4, 4, 2}, {d0}, 552}};
  for (const Case& c : cases) {
    RunResult run = Merge(dir, c.optimize);
    EXPECT_EQ(run.output, MergeConsole(3));
    EXPECT_EQ(run.status, 1);
    std::vector<uint8_t> expected(base.begin(), base.begin() + 470);
    std::vector<uint8_t> frames = Indices(c.frames);
    expected.insert(expected.end(), frames.begin(), frames.end());
    expected.insert(expected.end(), base.begin() + 470, base.end());
    std::vector<uint8_t> appended = Bytes(c.appended);
    expected.insert(expected.end(), appended.begin(), appended.end());
    PatchWord(expected, kFrameCountAt, 5);
    PatchWord(expected, kBoneArrayAt, 482);
    PatchWord(expected, kEofAt, c.eof);
    std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
    EXPECT_EQ(out, expected) << "optimize " << c.optimize;
    EXPECT_EQ(out.size(), c.eof);
    EXPECT_EQ(WordAt(out, kSkeletonAt), 108u);
    EXPECT_EQ(WordAt(out, kFrameArrayAt), 452u);
  }
}

TEST(Merge, DonorWithOneFrameGivesTheBaseFileBack) {
  ScratchDir dir;
  glagen::SampleFile baseFile = Generate(5, 8, 6, 50, "base");
  std::vector<uint8_t> base = WriteSample(dir / "base.gla", baseFile);
  WriteSample(dir / "donor.gla", Generate(6, 8, 1, 20, "donor", &baseFile, 0, true));
  for (bool optimize : {false, true}) {
    RunResult run = Merge(dir, optimize);
    EXPECT_EQ(run.output, Banner() + messages::kPrompt);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFileBytes(dir / "out.gla"), base);
  }
}

TEST(Merge, SeventyBonesTenFramesAndAFiveFrameDonor) {
  ScratchDir dir;
  glagen::SampleFile baseFile = Generate(7, 70, 10, 300, "base");
  std::vector<uint8_t> base = WriteSample(dir / "base.gla", baseFile);
  WriteSample(dir / "donor.gla", Generate(8, 70, 5, 300, "donor", &baseFile, 0.2, true, 0.2));
  RunResult run = Merge(dir, false);
  EXPECT_EQ(run.output, MergeConsole(5));
  EXPECT_EQ(run.status, 1);
  std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
  EXPECT_EQ(WordAt(out, kFrameCountAt), 14u);
  EXPECT_EQ(WordAt(out, kBoneArrayAt), WordAt(base, kBoneArrayAt) + 840);
}

TEST(Merge, EveryDonorEntrySharedGrowsTheFileByItsFramesOnly) {
  ScratchDir dir;
  glagen::SampleFile baseFile = Generate(9, 12, 4, 200, "base");
  std::vector<uint8_t> base = WriteSample(dir / "base.gla", baseFile);
  WriteSample(dir / "donor.gla", Generate(10, 12, 6, 150, "donor", &baseFile, 1.0, true));
  RunResult run = Merge(dir, true);
  EXPECT_EQ(run.status, 1);
  std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
  EXPECT_EQ(WordAt(out, kEofAt), WordAt(base, kEofAt) + 5 * 12 * 3);
  EXPECT_EQ(out.size(), WordAt(out, kEofAt));
}

TEST(Merge, EntryUsedOnlyByDonorFrameZeroIsNotAppended) {
  ScratchDir dir;
  std::vector<glagen::Entry> b = {Entry(1), Entry(2)};
  WriteSample(dir / "base.gla", TwoBoneFile("base", {{0, 1}}, b));
  WriteSample(dir / "donor.gla",
              TwoBoneFile("donor", {{0, 0}, {1, 1}}, {Entry(50), Entry(60), Entry(70)}));
  RunResult run = Merge(dir, false);
  EXPECT_EQ(run.status, 1);
  std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
  std::vector<uint8_t> tail(out.end() - 14, out.end());
  EXPECT_EQ(tail, Bytes({Entry(60)}));
  EXPECT_EQ(out.size(), WordAt(out, kBoneArrayAt) + 3 * 14u);
}

// Generated pairs of every kind, large enough to grow the sharing index several times, against
// the plain linear-scan rule.
TEST(Merge, GeneratedPairsMatchTheLinearScanRule) {
  struct Case {
    uint64_t seed;
    uint32_t bones;
    uint32_t baseFrames;
    uint32_t donorFrames;
    uint32_t entries;
    double shared;
    double repeat;
    bool shuffle;
  };
  const Case cases[] = {
      {11, 70, 20, 40, 3000, 0.33, 0.5, true}, {12, 5, 3, 400, 5000, 0.5, 0.9, true},
      {13, 30, 1, 60, 200, 0.0, 0.0, false},   {14, 1, 2, 2000, 1500, 0.9, 0.3, false},
      {15, 40, 30, 30, 20000, 0.1, 0.7, true},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    glagen::SampleFile baseFile =
        Generate(c.seed, c.bones, c.baseFrames, c.entries, "base", nullptr, 0, false, c.repeat);
    std::vector<uint8_t> base = WriteSample(dir / "base.gla", baseFile);
    std::vector<uint8_t> donor =
        WriteSample(dir / "donor.gla", Generate(c.seed + 100, c.bones, c.donorFrames, c.entries,
                                                "donor", &baseFile, c.shared, c.shuffle, c.repeat));
    for (bool optimize : {false, true}) {
      RunResult run = Merge(dir, optimize);
      ASSERT_EQ(run.status, 1) << c.seed << run.output.substr(0, 400);
      ASSERT_EQ(ReadFileBytes(dir / "out.gla"), reference::ReferenceMerge(base, donor, optimize))
          << "seed " << c.seed << " optimize " << optimize;
    }
  }
}

// A base file whose blocks have gaps between them still gives an output whose offsets
// describe the bytes written.
TEST(Merge, OffsetsDescribeTheOutputEvenForABaseWithGaps) {
  ScratchDir dir;
  glagen::SampleFile baseFile = Generate(16, 4, 3, 20, "base");
  std::vector<uint8_t> sound = glagen::EncodeSampleFile(baseFile);
  uint32_t frames = WordAt(sound, kFrameArrayAt);
  uint32_t boneArray = WordAt(sound, kBoneArrayAt);
  // Eight filler bytes before the frames and five before the bone array.
  std::vector<uint8_t> gapped(sound.begin(), sound.begin() + frames);
  gapped.insert(gapped.end(), 8, 0xEE);
  gapped.insert(gapped.end(), sound.begin() + frames, sound.begin() + boneArray);
  gapped.insert(gapped.end(), 5, 0xDD);
  gapped.insert(gapped.end(), sound.begin() + boneArray, sound.end());
  PatchWord(gapped, kFrameArrayAt, frames + 8);
  PatchWord(gapped, kBoneArrayAt, boneArray + 13);
  PatchWord(gapped, kEofAt, static_cast<uint32_t>(gapped.size()));
  WriteFileBytes(dir / "base.gla", gapped);
  std::vector<uint8_t> donor =
      WriteSample(dir / "donor.gla", Generate(17, 4, 3, 20, "donor", &baseFile, 0.5, true));
  RunResult run = Merge(dir, false);
  ASSERT_EQ(run.status, 1);
  std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
  // The filler before the frames belongs to the skeleton block and is kept; the gap before the
  // bone array is not part of any block.
  std::vector<uint8_t> soundWithFiller = sound;
  soundWithFiller.insert(soundWithFiller.begin() + frames, 8, 0xEE);
  PatchWord(soundWithFiller, kFrameArrayAt, frames + 8);
  PatchWord(soundWithFiller, kBoneArrayAt, boneArray + 8);
  PatchWord(soundWithFiller, kEofAt, static_cast<uint32_t>(soundWithFiller.size()));
  EXPECT_EQ(out, reference::ReferenceMerge(soundWithFiller, donor, false));
  EXPECT_EQ(WordAt(out, kEofAt), out.size());
}

// Each refusal: its message after the prompt, status 0, and the output left empty.
TEST(Merge, RefusalsLeaveTheOutputEmpty) {
  struct Case {
    const char* label;
    std::function<void(std::vector<uint8_t>& base, std::vector<uint8_t>& donor)> damage;
    std::string message;
  };
  const Case cases[] = {
      {"base cut inside its header",
       [](auto& base, auto& donor) { base.resize(60), donor.resize(60); },
       "\nError: first file is damaged: it ends inside its header."},
      {"donor bone array past the end",
       [](auto&, auto& donor) { PatchWord(donor, kEofAt, uint32_t(donor.size()) + 1); },
       "\nError: second file is damaged: its bone array runs past the end of the file."},
      {"base bone array past the end", [](auto& base, auto&) { base.pop_back(); },
       "\nError: first file is damaged: its bone array runs past the end of the file."},
      {"base bone array offset after its end",
       [](auto& base, auto&) { PatchWord(base, kBoneArrayAt, WordAt(base, kEofAt) + 14); },
       "\nError: first file is damaged: its bone array offset lies after its end offset."},
      {"base bone array of partial entries",
       [](auto& base, auto&) { PatchWord(base, kBoneArrayAt, WordAt(base, kBoneArrayAt) + 1); },
       "\nError: first file is damaged: its bone array is not a whole number of 14-byte entries."},
      {"base frames past the end",
       [](auto& base, auto&) { PatchWord(base, kFrameCountAt, 0xFFFFFFFFu); },
       "\nError: first file is damaged: its frame array runs past the end of the file."},
      {"donor frames past the end",
       [](auto&, auto& donor) { PatchWord(donor, kFrameCountAt, 100000); },
       "\nError: second file is damaged: its frame array runs past the end of the file."},
      {"base skeleton after its frames",
       [](auto& base, auto&) { PatchWord(base, kSkeletonAt, WordAt(base, kFrameArrayAt) + 1); },
       "\nError: first file is damaged: its skeleton offset lies after its frame array offset."},
      {"base offset table past the end",
       [](auto& base, auto& donor) {
         PatchWord(base, kBoneCountAt, 0x40000000u), PatchWord(donor, kBoneCountAt, 0x40000000u);
       },
       "\nError: first file is damaged: its bone offset table runs past the end of the file."},
      {"donor without frames", [](auto&, auto& donor) { PatchWord(donor, kFrameCountAt, 0); },
       messages::kSecondHasNoFrames},
      {"donor skeleton ends early",
       [](auto&, auto& donor) { PatchWord(donor, kSkeletonAt, uint32_t(donor.size()) - 10); },
       "\nError: second file is damaged: its skeleton ends early."},
      {"base skeleton ends early",
       // The last bone claims more children than the rest of the file holds.
       [](auto& base, auto&) { PatchWord(base, WordAt(base, kFrameArrayAt) - 4, 0x7FFFFFFF); },
       "\nError: first file is damaged: its skeleton ends early."},
      {"donor frame naming a missing entry",
       [](auto&, auto& donor) {
         uint32_t entries = (WordAt(donor, kEofAt) - WordAt(donor, kBoneArrayAt)) / 14;
         size_t field = WordAt(donor, kFrameArrayAt) + 2 * 3 * 3 + 3;  // frame 2, field 1
         bonesplice::StoreU24(&donor[field], entries);
       },
       "\nError: second file is damaged: frame 2 refers to bone data entry 20 of 20."},
      {"base bone missing from the donor",
       [](auto&, auto& donor) {
         // Rename the donor's bone that is stored first.
         donor[WordAt(donor, kSkeletonAt)] = 'Q';
       },
       ""},
      {"no bones",
       [](auto& base, auto& donor) {
         for (auto* file : {&base, &donor}) {
           PatchWord(*file, kBoneCountAt, 0);
           PatchWord(*file, kSkeletonAt, 100);
           PatchWord(*file, kFrameArrayAt, 100);
         }
       },
       messages::kNoBones},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    glagen::SampleFile baseFile = Generate(20, 3, 4, 20, "base");
    std::vector<uint8_t> base = glagen::EncodeSampleFile(baseFile);
    glagen::SampleFile donorFile = Generate(21, 3, 5, 20, "donor", &baseFile, 0.3, true);
    std::vector<uint8_t> donor = glagen::EncodeSampleFile(donorFile);
    c.damage(base, donor);
    WriteFileBytes(dir / "base.gla", base);
    WriteFileBytes(dir / "donor.gla", donor);
    // The renamed donor bone's old name is the base bone the donor now lacks.
    std::string message =
        c.message.empty() ? messages::MissingBone(donorFile.bones[0].name) : c.message;
    for (bool optimize : {false, true}) {
      RunResult run = Merge(dir, optimize);
      EXPECT_EQ(run.output.substr(0, Banner().size()), Banner()) << c.label;
      std::string after = run.output.substr(Banner().size() + std::strlen(messages::kPrompt));
      // Progress lines may come before a damaged frame is met.
      size_t error = after.find("\nError");
      EXPECT_EQ(after.substr(error == std::string::npos ? 0 : error), message) << c.label;
      EXPECT_EQ(run.status, 0) << c.label;
      EXPECT_EQ(fs::file_size(dir / "out.gla"), 0u) << c.label;
    }
  }
}

TEST(Merge, DamagedFrameStopsTheMergeAfterTheFramesBeforeIt) {
  // Frames are re-pointed in batches; the console must still show exactly the frames before
  // the damaged one, wherever it lies in a batch.
  for (uint32_t damagedFrame : {1u, 64u, 65u, 100u, 199u}) {
    ScratchDir dir;
    glagen::SampleFile baseFile = Generate(30, 4, 3, 50, "base");
    WriteSample(dir / "base.gla", baseFile);
    glagen::SampleFile donorFile = Generate(31, 4, 200, 60, "donor", &baseFile, 0.3, true, 0.3);
    std::vector<uint8_t> donor = glagen::EncodeSampleFile(donorFile);
    size_t field = WordAt(donor, kFrameArrayAt) + (damagedFrame * 4 + 2) * 3;
    bonesplice::StoreU24(&donor[field], 70);
    WriteFileBytes(dir / "donor.gla", donor);
    for (bool optimize : {false, true}) {
      RunResult run = Merge(dir, optimize);
      EXPECT_EQ(run.output, MergeConsole(damagedFrame) + "\nError: second file is damaged: frame " +
                                std::to_string(damagedFrame) +
                                " refers to bone data entry 70 of 60.")
          << damagedFrame;
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(fs::file_size(dir / "out.gla"), 0u);
    }
  }
}

}  // namespace
