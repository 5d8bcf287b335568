// A merge as users meet it in the real program: the console text (banner, prompt, one progress
// line per appended frame, at most one message), the exit status and the output file, for a
// merge done and for refusals before and while frames are re-pointed; and headers that promise
// far more than their file holds, run under a memory limit so that an allocation sized from a
// header value fails. The merged bytes of every case are compared in tests/unit/merge_test.cpp.
#include <gtest/gtest.h>

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
using bonesplice::AnimHeader;
using bonesplice::Damage;
using bonesplice::FileDamaged;
using bonesplice::FileRole;
using Bytes = std::vector<uint8_t>;

// base.gla and donor.gla: the same four bones in other orders, 200 donor frames.
class MergeCli : public ::testing::Test {
 protected:
  void SetUp() override {
    baseFile = Generate(30, 4, 3, 50, "base");
    soundBase = glagen::EncodeSampleFile(baseFile);
    soundDonor =
        glagen::EncodeSampleFile(Generate(31, 4, 200, 60, "donor", &baseFile, 0.3, true, 0.3));
  }

  RunResult Merge(const Bytes& baseBytes, const Bytes& donorBytes, bool optimize) {
    WriteFileBytes(dir / "base.gla", baseBytes);
    WriteFileBytes(dir / "donor.gla", donorBytes);
    return RunLimited(dir.path(), MergeArguments(optimize), "out.gla\n");
  }

  ScratchDir dir;
  glagen::SampleFile baseFile;
  Bytes soundBase;
  Bytes soundDonor;
};

TEST_F(MergeCli, TheConsoleShowsEachFrameDoneThenAtMostOneMessage) {
  struct Case {
    const char* label;
    std::function<void(Bytes& base, Bytes& donor)> change;
    uint32_t consoleFrames;  // MergeConsole of this many donor frames
    std::string message;     // empty: the merge is done
  };
  const Case cases[] = {
      {"a merge done", [](Bytes&, Bytes&) {}, 200, ""},
      {"a donor of one frame",
       [](Bytes&, Bytes& donor) { EditHeader(donor, [](AnimHeader& h) { h.frameCount = 1; }); }, 1,
       ""},
      {"a damaged base", [](Bytes& base, Bytes&) { base.pop_back(); }, 1,
       messages::MessageOf(FileDamaged{FileRole::kBase, Damage::kBoneArrayPastEnd}, "")},
      {"a damaged donor frame",
       [](Bytes&, Bytes& donor) {
         bonesplice::StoreU24(&donor[HeaderOf(donor).frameArrayOffset + 65 * 12 + 6], 70);
       },
       65, messages::MessageOf(bonesplice::BadFrameIndex{65, 70, 60}, "")},
  };
  for (const Case& c : cases) {
    Bytes changedBase = soundBase;
    Bytes changedDonor = soundDonor;
    c.change(changedBase, changedDonor);
    for (bool optimize : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (optimize ? " -o" : ""));
      RunResult run = Merge(changedBase, changedDonor, optimize);
      EXPECT_EQ(run.output, MergeConsole(c.consoleFrames) + c.message);
      EXPECT_EQ(run.status, c.message.empty() ? 1 : 0);
      EXPECT_EQ(ReadFileBytes(dir / "out.gla"),
                c.message.empty() ? reference::ReferenceMerge(changedBase, changedDonor, optimize)
                                  : Bytes{});
    }
  }
}

// Counts and offsets far past what the file holds. Each run is refused with its message, or
// dumped, without ever needing the memory the header promises.
TEST_F(MergeCli, HeadersThatLieAllocateNothingTheyPromise) {
  auto edit = [](Bytes& file, const std::function<void(AnimHeader&)>& change) {
    EditHeader(file, change);
  };
  struct Case {
    const char* label;
    std::function<void(Bytes& base, Bytes& donor)> change;
    bonesplice::Failure failure;
  };
  const Case cases[] = {
      {"bone counts",
       [&](Bytes& base, Bytes& donor) {
         for (Bytes* file : {&base, &donor})
           edit(*file, [](AnimHeader& h) { h.boneCount = 0x40000000u; });
       },
       FileDamaged{FileRole::kBase, Damage::kOffsetTablePastEnd}},
      {"a child count",
       [](Bytes& base, Bytes&) {
         bonesplice::StoreU32(&base[HeaderOf(base).frameArrayOffset - 4], 0x7FFFFFFF);
       },
       FileDamaged{FileRole::kBase, Damage::kSkeletonShort}},
      {"a base frame count",
       [&](Bytes& base, Bytes&) { edit(base, [](AnimHeader& h) { h.frameCount = 0xFFFFFFFFu; }); },
       FileDamaged{FileRole::kBase, Damage::kFramesPastEnd}},
      {"a donor frame count",
       [&](Bytes&, Bytes& donor) { edit(donor, [](AnimHeader& h) { h.frameCount = 0x7FFFFFFF; }); },
       FileDamaged{FileRole::kDonor, Damage::kFramesPastEnd}},
      {"a donor end offset",
       [&](Bytes&, Bytes& donor) { edit(donor, [](AnimHeader& h) { h.eofOffset = 0xFFFFFFF0u; }); },
       FileDamaged{FileRole::kDonor, Damage::kBoneArrayPastEnd}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes changedBase = soundBase;
    Bytes changedDonor = soundDonor;
    c.change(changedBase, changedDonor);
    RunResult run = Merge(changedBase, changedDonor, true);
    EXPECT_EQ(run.output, MergeConsole(1) + messages::MessageOf(c.failure, ""));
    EXPECT_EQ(run.status, 0);
    fs::remove(dir / "bone.log");
    RunResult list = RunLimited(dir.path(), {"base.gla", "donor.gla", "-l"});
    EXPECT_EQ(list.output, Banner());
    EXPECT_EQ(list.status, 1);
    EXPECT_LT(fs::file_size(dir / "bone.log"), 64u << 10);
  }
}

}  // namespace
