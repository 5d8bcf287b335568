// The merged output as users get it from the real program: exact bytes, console text and
// exit status, for the worked example, generated files of every kind, and each refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "reference_merge.h"
#include "run_program.h"
#include "samples.h"

namespace {

using namespace testing_support;
namespace messages = bonesplice::messages;
namespace fs = std::filesystem;
using bonesplice::AnimHeader;

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

RunResult Merge(const ScratchDir& dir, bool optimize) {
  return RunLimited(dir.path(), MergeArguments(optimize), "out.gla\n");
}

// Base: 2 childless bones, 3 frames, entries B0..B3 (skeleton at 108, frames at 452, bone array
// at 470, end at 526). Donor: the same bones, frames (0, 1), (1, 0), (2, 1) and entries D0,
// D1 = B2, D2 = D0. The output is the base with two frames and the appended entries added.
TEST(Merge, WorkedExampleByteForByteInBothModes) {
  ScratchDir dir;
  std::vector<glagen::Entry> b = {Entry(1), Entry(2), Entry(3), Entry(4)};
  glagen::Entry d0 = Entry(99);
  glagen::SampleFile base = TwoBoneFile("base", {{0, 1}, {2, 3}, {3, 0}}, b);
  std::vector<uint8_t> baseBytes = WriteSample(dir / "base.gla", base);
  WriteSample(dir / "donor.gla", TwoBoneFile("donor", {{0, 1}, {1, 0}, {2, 1}}, {d0, b[2], d0}));
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
    RunResult run = Merge(dir, c.optimize);
    EXPECT_EQ(run.output, MergeConsole(3));
    EXPECT_EQ(run.status, 1);
    glagen::SampleFile expected = base;
    expected.frames.insert(expected.frames.end(), c.frames.begin(), c.frames.end());
    expected.entries.insert(expected.entries.end(), c.appended.begin(), c.appended.end());
    std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
    EXPECT_EQ(out, glagen::EncodeSampleFile(expected)) << "optimize " << c.optimize;
    EXPECT_EQ(HeaderOf(out).boneArrayOffset, 482u);
    EXPECT_EQ(HeaderOf(out).eofOffset, c.eof);
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

// A base whose bone array is empty: its frames end the file, and every index the appended
// frames use is an appended entry's.
TEST(Merge, ABaseWithoutEntriesTakesTheDonorsEntries) {
  ScratchDir dir;
  glagen::SampleFile baseFile = Generate(7, 6, 4, 30, "base");
  std::vector<uint8_t> base = glagen::EncodeSampleFile(baseFile);
  base.resize(HeaderOf(base).boneArrayOffset);
  EditHeader(base, [](AnimHeader& h) { h.eofOffset = h.boneArrayOffset; });
  WriteFileBytes(dir / "base.gla", base);
  std::vector<uint8_t> donor =
      WriteSample(dir / "donor.gla", Generate(8, 6, 5, 30, "donor", &baseFile, 0, true, 0.3));
  for (bool optimize : {false, true}) {
    RunResult run = Merge(dir, optimize);
    EXPECT_EQ(run.output, MergeConsole(5));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFileBytes(dir / "out.gla"), reference::ReferenceMerge(base, donor, optimize));
  }
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
      {11, 70, 20, 40, 3000, 0.33, 0.5, true},
      {12, 5, 3, 400, 5000, 0.5, 0.9, true},
      {13, 30, 1, 60, 200, 0.0, 0.0, false},
      {14, 1, 2, 2000, 1500, 0.9, 0.3, false},
      {15, 40, 30, 30, 20000, 0.1, 0.7, true},
      // Indices of 65536 and more, read and written in all three bytes.
      {18, 6, 4, 800, 100000, 0.3, 0.2, true},
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
      ASSERT_EQ(run.output, MergeConsole(c.donorFrames)) << c.seed;
      ASSERT_EQ(run.status, 1);
      ASSERT_EQ(ReadFileBytes(dir / "out.gla"), reference::ReferenceMerge(base, donor, optimize))
          << "seed " << c.seed << " optimize " << optimize;
    }
  }
}

// A base file whose blocks have gaps between them still gives an output whose offsets
// describe the bytes written: skeleton right after the offset table, frames after it.
TEST(Merge, OffsetsDescribeTheOutputEvenForABaseWithGaps) {
  ScratchDir dir;
  glagen::SampleFile baseFile = Generate(16, 4, 3, 20, "base");
  std::vector<uint8_t> sound = glagen::EncodeSampleFile(baseFile);
  AnimHeader header = HeaderOf(sound);
  // Six filler bytes before the skeleton, eight before the frames, five before the bone array.
  auto gap = [](std::vector<uint8_t>& bytes, size_t at, size_t count, uint8_t fill) {
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), count, fill);
  };
  std::vector<uint8_t> gapped = sound;
  gap(gapped, header.boneArrayOffset, 5, 0xDD);
  gap(gapped, header.frameArrayOffset, 8, 0xEE);
  gap(gapped, header.skeletonInfoOffset, 6, 0xCC);
  EditHeader(gapped, [&](AnimHeader& h) {
    h.skeletonInfoOffset += 6;
    h.frameArrayOffset += 14;
    h.boneArrayOffset += 19;
    h.eofOffset = static_cast<uint32_t>(gapped.size());
  });
  WriteFileBytes(dir / "base.gla", gapped);
  std::vector<uint8_t> donor =
      WriteSample(dir / "donor.gla", Generate(17, 4, 3, 20, "donor", &baseFile, 0.5, true));
  RunResult run = Merge(dir, false);
  ASSERT_EQ(run.status, 1);
  // The filler before the frames belongs to the skeleton block and is kept; the gaps before the
  // skeleton and the bone array are not part of any block.
  std::vector<uint8_t> withFiller = sound;
  gap(withFiller, header.frameArrayOffset, 8, 0xEE);
  EditHeader(withFiller, [&](AnimHeader& h) {
    h.frameArrayOffset += 8;
    h.boneArrayOffset += 8;
    h.eofOffset = static_cast<uint32_t>(withFiller.size());
  });
  std::vector<uint8_t> out = ReadFileBytes(dir / "out.gla");
  EXPECT_EQ(out, reference::ReferenceMerge(withFiller, donor, false));
  EXPECT_EQ(HeaderOf(out).skeletonInfoOffset, header.skeletonInfoOffset);
  EXPECT_EQ(HeaderOf(out).eofOffset, out.size());
}

// Each refusal: its message after the prompt, status 0, and the output left empty. Every run
// here is under the memory limit, so that an allocation sized from a file's value fails.
TEST(Merge, RefusalsLeaveTheOutputEmpty) {
  using Bytes = std::vector<uint8_t>;
  auto edit = [](Bytes& file, const std::function<void(AnimHeader&)>& change) {
    EditHeader(file, change);
  };
  std::string missing = "";  // filled in below: the name of the donor's renamed bone
  struct Case {
    const char* label;
    std::function<void(Bytes& base, Bytes& donor)> damage;
    std::string message;
  };
  const Case cases[] = {
      {"empty base", [](Bytes& base, Bytes&) { base.clear(); },
       messages::MessageOf(bonesplice::HeadersRefused{bonesplice::HeaderCheck::kBaseNotAnimation},
                           "")},
      {"donor of three bytes", [](Bytes&, Bytes& donor) { donor.resize(3); },
       messages::MessageOf(bonesplice::HeadersRefused{bonesplice::HeaderCheck::kDonorNotAnimation},
                           "")},
      {"base ending before its bone count", [](Bytes& base, Bytes&) { base.resize(60); },
       messages::MessageOf(bonesplice::HeadersRefused{bonesplice::HeaderCheck::kBoneCountsDiffer},
                           "")},
      {"both cut inside their headers",
       [](Bytes& base, Bytes& donor) { base.resize(60), donor.resize(60); },
       "\nError: first file is damaged: it ends inside its header."},
      {"donor ending in its last header field", [](Bytes&, Bytes& donor) { donor.resize(99); },
       "\nError: second file is damaged: it ends inside its header."},
      {"donor bone array past the end",
       [&](Bytes&, Bytes& donor) {
         edit(donor, [&](AnimHeader& h) { h.eofOffset = static_cast<uint32_t>(donor.size() + 1); });
       },
       "\nError: second file is damaged: its bone array runs past the end of the file."},
      {"base cut right after its offset table",
       [](Bytes& base, Bytes&) { base.resize(HeaderOf(base).skeletonInfoOffset); },
       "\nError: first file is damaged: its frame array runs past the end of the file."},
      {"base one byte short", [](Bytes& base, Bytes&) { base.pop_back(); },
       "\nError: first file is damaged: its bone array runs past the end of the file."},
      {"base bone array offset after its end",
       [&](Bytes& base, Bytes&) {
         edit(base, [](AnimHeader& h) { h.boneArrayOffset = h.eofOffset + 14; });
       },
       "\nError: first file is damaged: its bone array offset lies after its end offset."},
      {"base bone array of partial entries",
       [&](Bytes& base, Bytes&) { edit(base, [](AnimHeader& h) { ++h.boneArrayOffset; }); },
       "\nError: first file is damaged: its bone array is not a whole number of 14-byte entries."},
      {"base frames past the end",
       [&](Bytes& base, Bytes&) { edit(base, [](AnimHeader& h) { h.frameCount = 0xFFFFFFFFu; }); },
       "\nError: first file is damaged: its frame array runs past the end of the file."},
      {"donor frames one past the end",
       [&](Bytes&, Bytes& donor) {
         edit(donor, [&](AnimHeader& h) {
           h.frameCount = static_cast<uint32_t>((donor.size() - h.frameArrayOffset) / 9 + 1);
         });
       },
       "\nError: second file is damaged: its frame array runs past the end of the file."},
      {"donor frame naming a partial entry",
       // Five bytes after the last whole entry do not make another one.
       [](Bytes&, Bytes& donor) {
         AnimHeader h = HeaderOf(donor);
         donor.insert(donor.end(), 5, 0xAB);
         EditHeader(donor, [](AnimHeader& edited) { edited.eofOffset += 5; });
         bonesplice::StoreU24(&donor[h.frameArrayOffset + 2 * 3 * 3 + 3], 20);
       },
       "\nError: second file is damaged: frame 2 refers to bone data entry 20 of 20."},
      {"base skeleton after its frames",
       [&](Bytes& base, Bytes&) {
         edit(base, [](AnimHeader& h) { h.skeletonInfoOffset = h.frameArrayOffset + 1; });
       },
       "\nError: first file is damaged: its skeleton offset lies after its frame array offset."},
      {"base offset table past the end",
       [&](Bytes& base, Bytes& donor) {
         for (Bytes* file : {&base, &donor})
           edit(*file, [](AnimHeader& h) { h.boneCount = 0x40000000u; });
       },
       "\nError: first file is damaged: its bone offset table runs past the end of the file."},
      {"donor without frames",
       [&](Bytes&, Bytes& donor) { edit(donor, [](AnimHeader& h) { h.frameCount = 0; }); },
       messages::MessageOf(bonesplice::NoDonorFrames{}, "")},
      {"donor skeleton ends early",
       [&](Bytes&, Bytes& donor) {
         edit(donor, [&](AnimHeader& h) {
           h.skeletonInfoOffset = static_cast<uint32_t>(donor.size() - 10);
         });
       },
       "\nError: second file is damaged: its skeleton ends early."},
      {"base skeleton ends early",
       // The last bone claims more children than the rest of the file holds.
       [](Bytes& base, Bytes&) {
         bonesplice::StoreU32(&base[HeaderOf(base).frameArrayOffset - 4], 0x7FFFFFFF);
       },
       "\nError: first file is damaged: its skeleton ends early."},
      {"donor frame naming a missing entry",
       [](Bytes&, Bytes& donor) {
         AnimHeader h = HeaderOf(donor);
         size_t field = h.frameArrayOffset + 2 * 3 * 3 + 3;  // frame 2, field 1
         bonesplice::StoreU24(&donor[field], (h.eofOffset - h.boneArrayOffset) / 14);
       },
       "\nError: second file is damaged: frame 2 refers to bone data entry 20 of 20."},
      {"base bone missing from the donor",
       // The donor's bone stored first is renamed; its old name is the base bone the donor lacks.
       [](Bytes&, Bytes& donor) { donor[HeaderOf(donor).skeletonInfoOffset] = 'Q'; }, ""},
      {"no bones",
       [&](Bytes& base, Bytes& donor) {
         for (Bytes* file : {&base, &donor}) {
           edit(*file, [](AnimHeader& h) {
             h.boneCount = 0;
             h.skeletonInfoOffset = h.frameArrayOffset = 100;
           });
         }
       },
       messages::MessageOf(bonesplice::NoBones{}, "")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    glagen::SampleFile baseFile = Generate(20, 3, 4, 20, "base");
    Bytes base = glagen::EncodeSampleFile(baseFile);
    glagen::SampleFile donorFile = Generate(21, 3, 5, 20, "donor", &baseFile, 0.3, true);
    Bytes donor = glagen::EncodeSampleFile(donorFile);
    c.damage(base, donor);
    WriteFileBytes(dir / "base.gla", base);
    WriteFileBytes(dir / "donor.gla", donor);
    std::string message =
        c.message.empty()
            ? messages::MessageOf(bonesplice::MissingBone{donorFile.bones[0].name}, "")
            : c.message;
    for (bool optimize : {false, true}) {
      RunResult run = Merge(dir, optimize);
      EXPECT_EQ(run.output.substr(0, Banner().size()), Banner());
      std::string after = run.output.substr(std::min(run.output.size(), MergeConsole(1).size()));
      // Progress lines may come before a damaged frame is met.
      size_t error = after.find("\nError");
      EXPECT_EQ(after.substr(error == std::string::npos ? 0 : error), message);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(fs::file_size(dir / "out.gla"), 0u);
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
    donorFile.frames[damagedFrame][2] = 70;
    WriteSample(dir / "donor.gla", donorFile);
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
