// The real program against what a hostile user or environment can hand it: inputs that are not
// files, closed standard streams, control bytes, names that lead to a source, files past 2 GiB,
// names outside ASCII, memory that runs out, and inputs shortened during the run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "format/bytes.h"
#include "reference_merge.h"
#include "run_program.h"
#include "samples.h"
#include "steered_process.h"

namespace {

using namespace testing_support;
namespace messages = bonesplice::messages;
namespace fs = std::filesystem;

#define SKIP_UNDER_WINDOWS_PROGRAM(why) \
  if (RunsWindowsProgram()) GTEST_SKIP() << why

// base.gla and donor.gla with the same four bones in different orders.
class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    baseFile = Generate(50, 4, 5, 40, "base", nullptr, 0, false, 0.2);
    base = WriteSample(dir / "base.gla", baseFile);
    donorFile = Generate(51, 4, 6, 40, "donor", &baseFile, 0.3, true, 0.2);
    donor = WriteSample(dir / "donor.gla", donorFile);
  }

  // Damaged inputs are merged under the memory limit; the 2 GiB file needs more address space.
  RunResult Merge(const std::string& outputName, bool optimize = false, bool limited = true) {
    std::vector<std::string> args = MergeArguments(optimize);
    return limited ? RunLimited(dir.path(), args, outputName + "\n")
                   : RunBonesplice(dir.path(), args, outputName + "\n");
  }

  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir.path()), {}));
  }

  ScratchDir dir;
  glagen::SampleFile baseFile;
  glagen::SampleFile donorFile;
  std::vector<uint8_t> base;
  std::vector<uint8_t> donor;
};

TEST_F(Hostile, InputsThatAreNotRegularFilesAreRefusedInEveryMode) {
  struct Case {
    const char* label;
    std::string base;
    std::string donor;
    std::string message;
    bool posixOnly;
  };
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: opening it must not hang
  fs::create_directory(dir / "folder");
  const Case cases[] = {
      {"a FIFO as base", "fifo", "donor.gla", messages::NotRegular(bonesplice::FileRole::kBase),
       true},
      {"a folder as donor", "base.gla", "folder",
       messages::NotRegular(bonesplice::FileRole::kDonor), true},
      {"the null device as base", "/dev/null", "donor.gla",
       messages::NotRegular(bonesplice::FileRole::kBase), true},
      {"NUL as donor", "base.gla", "NUL", messages::NotRegular(bonesplice::FileRole::kDonor),
       false},
  };
  for (const Case& c : cases) {
    if (c.posixOnly == RunsWindowsProgram()) continue;
    for (const char* mode : {"-o", "-l"}) {
      SCOPED_TRACE(std::string(c.label) + " " + mode);
      RunResult run = RunBonesplice(dir.path(), {c.base, c.donor, mode}, "out.gla\n");
      EXPECT_EQ(run.output, Banner() + c.message);
      EXPECT_EQ(run.status, 0);
    }
  }
  EXPECT_FALSE(fs::exists(dir / "out.gla"));
  EXPECT_FALSE(fs::exists(dir / "bone.log"));
}

TEST_F(Hostile, ClosedStandardStreamsNeitherMisleadNorStopTheProgram) {
  SKIP_UNDER_WINDOWS_PROGRAM("descriptors are closed with POSIX calls");
  // With standard input closed the base file must not take its place.
  ProcessOptions closedInput;
  closedInput.closeInput = true;
  Process noInput(dir.path(), {"base.gla", "donor.gla"}, closedInput);
  RunResult refused = noInput.Finish();
  EXPECT_EQ(refused.output, Banner() + messages::kPrompt + messages::kNoOutputName);
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(Entries(), 2u) << "nothing is created";

  // A console whose reader is gone before the first line: the merge is done all the same.
  for (bool optimize : {false, true}) {
    ProcessOptions gone;
    gone.closeOutputEarly = true;
    Process process(dir.path(), MergeArguments(optimize), gone);
    process.Write("out.gla\n");
    RunResult run = process.Finish();
    EXPECT_FALSE(run.signaled);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFileBytes(dir / "out.gla"), reference::ReferenceMerge(base, donor, optimize));
  }
}

// An output name holding a control byte, a NUL among them, is refused before anything is made.
TEST_F(Hostile, OutputNamesWithControlBytesAreRefused) {
  for (const std::string& name : {std::string("out\x01.gla"), std::string("out\0.gla", 8),
                                  std::string("\x1B[31mred.gla"), std::string("del\x7F.gla")}) {
    RunResult refused = Merge(name);
    EXPECT_EQ(refused.output, Banner() + messages::kPrompt + messages::kOutputHasControl);
    EXPECT_EQ(refused.status, 0);
    EXPECT_EQ(Entries(), 2u);
  }
}

TEST_F(Hostile, NamesThatLeadToASourceAreRefusedWithTheSourceUnharmed) {
  fs::create_hard_link(dir / "base.gla", dir / "hard.gla");
  std::vector<std::string> names = {"./donor.gla", "hard.gla"};
  if (RunsWindowsProgram()) {
    names.insert(names.end(), {"BASE.GLA", ".\\donor.gla", "Donor.Gla"});
  } else {
    fs::create_symlink("donor.gla", dir / "soft.gla");
    names.push_back("soft.gla");
  }
  for (const std::string& name : names) {
    RunResult run = Merge(name);
    EXPECT_EQ(run.output, Banner() + messages::kPrompt + messages::kOutputIsSource) << name;
    EXPECT_EQ(run.status, 0) << name;
  }
  // bone.log as another name of a source: nothing is appended to it.
  fs::create_hard_link(dir / "donor.gla", dir / "bone.log");
  RunResult list = RunBonesplice(dir.path(), {"base.gla", "donor.gla", "-l"});
  EXPECT_EQ(list.output, Banner() + messages::kLogIsSource);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "base.gla"), base);
  EXPECT_EQ(ReadFileBytes(dir / "donor.gla"), donor);
}

TEST_F(Hostile, DeviceNamesAsTheOutputAreRefusedOnWindows) {
  if (!RunsWindowsProgram()) GTEST_SKIP() << "device names are Windows names";
  for (const char* name : {"AUX", "con.gla", "NUL", "com1", "LPT3.txt"}) {
    RunResult run = Merge(name);
    EXPECT_EQ(run.output, Banner() + messages::kPrompt + messages::kOutputIsDevice) << name;
    EXPECT_EQ(run.status, 0) << name;
  }
}

TEST_F(Hostile, NamesOutsideAsciiWorkAsTyped) {
  fs::rename(dir / "base.gla", dir / u8"Jos\u00e9.gla");
  fs::rename(dir / "donor.gla", dir / u8"\u0141\u00f3d\u017a \u6b69\u304f.gla");
  const std::string output = u8"r\u00e9sum\u00e9-\u00fcber.gla";
  // More typed after the name, with a character across the 4096th byte, where a read of piped
  // input may end: the name is still read as UTF-8.
  std::string typed = output + "\n";
  if ((4096 - typed.size()) % 2 == 0) typed += "x";
  for (int i = 0; i < 2100; ++i) typed += u8"\u00e9";
  RunResult run = RunBonesplice(
      dir.path(), {u8"Jos\u00e9.gla", u8"\u0141\u00f3d\u017a \u6b69\u304f.gla", "-o"}, typed);
  EXPECT_EQ(run.output, MergeConsole(6));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(dir / output), reference::ReferenceMerge(base, donor, true));
}

// A donor whose frames and entries lie past 2 GiB, behind a hole that costs no disk space.
TEST_F(Hostile, BlocksPastTwoGibibytesAreRead) {
  constexpr uint64_t kHole = uint64_t{2200} << 20;
  WriteWithHole(dir / "donor.gla", donor, HeaderOf(donor).frameArrayOffset, kHole);
  ASSERT_GT(fs::file_size(dir / "donor.gla"), uint64_t{1} << 31);
  for (bool optimize : {false, true}) {
    RunResult run = Merge("out.gla", optimize, false);
    EXPECT_EQ(run.output, MergeConsole(6));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadFileBytes(dir / "out.gla"), reference::ReferenceMerge(base, donor, optimize));
  }
}

TEST_F(Hostile, ListModeOutOfMemoryEndsWithAMessage) {
  SKIP_UNDER_WINDOWS_PROGRAM("the memory limit is set with ulimit");
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  // One bone with 16 million children: its child list needs more memory than the limit allows.
  glagen::SampleFile fan = baseFile;
  fan.bones.resize(1);
  fan.bones[0].children.assign(16u << 20, 0);
  fan.frames.clear();
  WriteSample(dir / "fan.gla", fan);
  ProcessOptions limited;
  limited.shellPrefix = "ulimit -v 131072";
  Process process(dir.path(), {"fan.gla", "donor.gla", "-l"}, limited);
  RunResult run = process.Finish();
  EXPECT_FALSE(run.signaled);
  EXPECT_EQ(run.output,
            Banner() +
                messages::MessageOf(
                    bonesplice::HeadersRefused{bonesplice::HeaderCheck::kBoneCountsDiffer}, "") +
                messages::kDumpOutOfMemory);
  EXPECT_EQ(run.status, 0);
}

// A file another program shortens during the run gives no result: shortened before the merge
// or while the merge reads it, it is reported as unreadable, never read past its end into a
// crash. (InputFile's own test covers what counts as a change.)
TEST_F(Hostile, AnInputChangedDuringTheRunIsReportedAsUnreadable) {
  SKIP_UNDER_WINDOWS_PROGRAM("a mapped file cannot be shortened on Windows");
  struct Case {
    const char* label;
    bool donorFile;
    bool duringMerge;  // else between the prompt and the name typed
  };
  const Case cases[] = {
      {"base shortened", false, false},
      {"donor shortened during the merge", true, true},
  };
  // Files of many pages and frames: the pages cut away are read as well as a last one cut
  // short, and the merge is still at its frames when it is stopped after the first batch.
  baseFile = Generate(52, 4, 800, 8000, "base");
  donorFile = Generate(53, 4, 40000, 8000, "donor", &baseFile, 0.3, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    bool checked = false;
    for (int attempt = 0; attempt < 10 && !checked; ++attempt) {
      base = WriteSample(dir / "base.gla", baseFile);
      donor = WriteSample(dir / "donor.gla", donorFile);
      fs::path changed = dir / (c.donorFile ? "donor.gla" : "base.gla");
      Process process(dir.path(), {"base.gla", "donor.gla", "-o"});
      ASSERT_TRUE(process.WaitFor(messages::kPrompt));
      if (c.duringMerge) {
        process.Write("out.gla\n");
        ASSERT_TRUE(process.WaitFor(messages::Progress(0)));
        process.Signal(SIGSTOP);
      }
      bool late = c.duringMerge && process.Printed(messages::Progress(40000 - 2));
      // The header and skeleton stay; the frames and entries are gone.
      const std::vector<uint8_t>& bytes = c.donorFile ? donor : base;
      ASSERT_EQ(truncate(changed.c_str(), HeaderOf(bytes).frameArrayOffset + 1), 0);
      if (c.duringMerge) {
        process.Signal(SIGCONT);
      } else {
        process.Write("out.gla\n");
      }
      RunResult run = process.Finish();
      if (late) continue;  // the merge was done before the file changed
      EXPECT_FALSE(run.signaled);
      EXPECT_EQ(run.output.substr(run.output.rfind("\nError")),
                messages::MessageOf(
                    bonesplice::InputUnreadable{c.donorFile ? bonesplice::FileRole::kDonor
                                                            : bonesplice::FileRole::kBase},
                    ""));
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(fs::file_size(dir / "out.gla"), 0u);
      EXPECT_TRUE(NamesStartingWith(dir.path(), "out.gla.").empty());
      checked = true;
    }
    EXPECT_TRUE(checked) << "every merge was done before the file changed";
  }
}

}  // namespace
