// "-l" runs of the real program: the reports it appends to bone.log, its console text and its
// exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dump.h"
#include "format/skeleton.h"
#include "run_program.h"
#include "samples.h"

namespace {

using namespace testing_support;

glagen::SampleBone Bone(const std::string& name, uint32_t flags, int32_t parent,
                        std::vector<uint32_t> children = {}) {
  glagen::SampleBone bone;
  bone.name = name;
  bone.flags = flags;
  bone.parent = parent;
  bone.children = std::move(children);
  return bone;
}

// Two bones in base order, scale 1, two frames.
glagen::SampleFile BaseFile() {
  glagen::SampleFile file;
  file.name = "base_anim";
  glagen::SampleBone root = Bone("root", 0x1, -1, {1});
  root.origin = {1, 0, 0, 10, 0, 1, 0, 20, 0, 0, 1, 30.5f};
  root.inversedOrigin = {1, 0, 0, -10, 0, 1, 0, -20, 0, 0, 1, -30.5f};
  file.bones = {root, Bone("head", 0x0, 0)};
  file.frames = {{0, 1}, {1, 0}};
  file.entries = {glagen::Entry{}, glagen::Entry{}};
  return file;
}

// The same two bones in the other order, scale 2, three frames.
glagen::SampleFile DonorFile() {
  glagen::SampleFile file;
  file.name = "donor_anim";
  file.scale = 2.0f;
  glagen::SampleBone head = Bone("head", 0x2, 1);
  head.origin = {2, 0, 0, 5, 0, 2, 0, 0, 0, 0, 2, -1};
  file.bones = {head, Bone("root", 0x1, -1, {0})};
  file.frames = {{0, 0}, {0, 0}, {0, 0}};
  file.entries = {glagen::Entry{}};
  return file;
}

const std::string kRule = "\n==============================================================\n";
const std::string kZeroRows =
    "\n0.000000 0.000000 0.000000 0.000000 "
    "\n0.000000 0.000000 0.000000 0.000000 "
    "\n0.000000 0.000000 0.000000 0.000000 ";

const std::string kBaseReport = kRule + "Header - base_anim" + kRule +
                                "\nSkeleton info offset: 0x6c"
                                "\nFrame array offset: 0x1c8"
                                "\nBone array offset: 0x1d4"
                                "\nEOF Offset: 0x1f0"
                                "\n"
                                "\nNumber of bones: 2"
                                "\nNumber of frames: 2"
                                "\nScale: 1.000000\n\n"
                                "\n0x0 - root:"
                                "\n\tFLAGS: 0x1"
                                "\n\tPARENT: index - 0x0, name - root"
                                "\n\tORIGIN:"
                                "\n1.000000 0.000000 0.000000 10.000000 "
                                "\n0.000000 1.000000 0.000000 20.000000 "
                                "\n0.000000 0.000000 1.000000 30.500000 "
                                "\n\tINVERSED ORIGIN:"
                                "\n1.000000 0.000000 0.000000 -10.000000 "
                                "\n0.000000 1.000000 0.000000 -20.000000 "
                                "\n0.000000 0.000000 1.000000 -30.500000 "
                                "\n\tNUMBER OF CHILDREN: 1"
                                "\n\t\tIndex: 0x1, Name: head"
                                "\n0x1 - head:"
                                "\n\tFLAGS: 0x0"
                                "\n\tPARENT: index - 0x0, name - root"
                                "\n\tORIGIN:" +
                                kZeroRows + "\n\tINVERSED ORIGIN:" + kZeroRows +
                                "\n\tNUMBER OF CHILDREN: 0";

const std::string kDonorReport = kRule + "Header - donor_anim" + kRule +
                                 "\nSkeleton info offset: 0x6c"
                                 "\nFrame array offset: 0x1c8"
                                 "\nBone array offset: 0x1da"
                                 "\nEOF Offset: 0x1e8"
                                 "\n"
                                 "\nNumber of bones: 2"
                                 "\nNumber of frames: 3"
                                 "\nScale: 2.000000\n\n"
                                 "\n0x0 - head:"
                                 "\n\tFLAGS: 0x2"
                                 "\n\tPARENT: index - 0x1, name - root"
                                 "\n\tORIGIN:"
                                 "\n1.000000 0.000000 0.000000 2.500000 "
                                 "\n0.000000 1.000000 0.000000 0.000000 "
                                 "\n0.000000 0.000000 1.000000 -0.500000 "
                                 "\n\tINVERSED ORIGIN:" +
                                 kZeroRows +
                                 "\n\tNUMBER OF CHILDREN: 0"
                                 "\n0x1 - root:"
                                 "\n\tFLAGS: 0x1"
                                 "\n\tPARENT: index - 0x1, name - root"
                                 "\n\tORIGIN:" +
                                 kZeroRows + "\n\tINVERSED ORIGIN:" + kZeroRows +
                                 "\n\tNUMBER OF CHILDREN: 1"
                                 "\n\t\tIndex: 0x0, Name: head";

// The report of the file at path as the library formats it, for files whose exact text other
// tests already pin down.
std::string LibraryReport(const std::filesystem::path& path) {
  return BoneReportOf(ReadFileBytes(path));
}

TEST(DumpCli, ListModeAppendsTheBaseReportThenTheDonorReport) {
  ScratchDir dir;
  WriteSample(dir / "a.gla", BaseFile());
  WriteSample(dir / "b.gla", DonorFile());
  RunResult run = RunBonesplice(dir.path(), {"a.gla", "b.gla", "-l"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, Banner());
  EXPECT_EQ(ReadFileText(dir / "bone.log"), kBaseReport + kDonorReport);
}

TEST(DumpCli, EarlierLogContentStaysInFront) {
  ScratchDir dir;
  WriteSample(dir / "a.gla", BaseFile());
  WriteSample(dir / "b.gla", DonorFile());
  const std::string earlier = "notes of an earlier run\n";
  WriteFileBytes(dir / "bone.log", std::vector<uint8_t>(earlier.begin(), earlier.end()));
  EXPECT_EQ(RunBonesplice(dir.path(), {"a.gla", "b.gla", "-l"}).status, 1);
  EXPECT_EQ(RunBonesplice(dir.path(), {"b.gla", "a.gla", "-l"}).status, 1);
  EXPECT_EQ(ReadFileText(dir / "bone.log"),
            earlier + kBaseReport + kDonorReport + kDonorReport + kBaseReport);
}

// A failed header check is reported, and both files are dumped after it all the same.
TEST(DumpCli, PairsFailingTheHeaderCheckAreDumpedAfterTheMessage) {
  glagen::SampleFile notAnimation = DonorFile();
  notAnimation.ident = "2LGB";
  glagen::SampleFile threeBones = DonorFile();
  threeBones.bones.push_back(Bone("tail", 0x4, 1));
  for (std::vector<uint32_t>& frame : threeBones.frames) frame.push_back(0);
  struct Case {
    const char* label;
    glagen::SampleFile base;
    glagen::SampleFile donor;
    const char* message;
  };
  const Case cases[] = {
      {"base not an animation file", notAnimation, BaseFile(),
       "\nError, first file is not a .gla animation file."},
      {"donor not an animation file", BaseFile(), notAnimation,
       "\nError, second file is not a .gla animation file."},
      {"bone counts differ", BaseFile(), threeBones,
       "\nError: can only merge frames from files with same number of bones."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    WriteSample(dir / "a.gla", c.base);
    WriteSample(dir / "b.gla", c.donor);
    RunResult run = RunBonesplice(dir.path(), {"a.gla", "b.gla", "-l"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, Banner() + c.message);
    EXPECT_EQ(ReadFileText(dir / "bone.log"),
              LibraryReport(dir / "a.gla") + LibraryReport(dir / "b.gla"));
  }
}

// A bone count far beyond what the file holds is dumped in bounded time: the report shows the
// bones the file does hold and then says how many of the promised ones were whole.
TEST(DumpCli, ABoneCountBeyondTheFileEndsTheReportWithWhatTheFileHolds) {
  ScratchDir dir;
  WriteSample(dir / "a.gla", BaseFile());
  std::vector<uint8_t> donor = glagen::EncodeSampleFile(DonorFile());
  EditHeader(donor, [](bonesplice::AnimHeader& h) { h.boneCount = 0xffffffffu; });
  WriteFileBytes(dir / "b.gla", donor);
  RunResult run = RunLimited(dir.path(), {"a.gla", "b.gla", "-l"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            Banner() + "\nError: can only merge frames from files with same number of bones.");
  std::string log = ReadFileText(dir / "bone.log");
  ASSERT_EQ(log.substr(0, kBaseReport.size()), kBaseReport);
  EXPECT_NE(log.find("\nNumber of bones: -1\nNumber of frames: 3\n"), std::string::npos);
  // The two records are whole; the 40 bytes of frames and entries after them begin a third.
  const std::string closing = "\nThe file holds only 2 of 4294967295 bones.";
  ASSERT_GE(log.size(), closing.size());
  EXPECT_EQ(log.substr(log.size() - closing.size()), closing);
  EXPECT_EQ(LibraryReport(dir / "a.gla") + LibraryReport(dir / "b.gla"), log);
}

TEST(DumpCli, ALogThatCannotBeOpenedIsReportedWithStatusZero) {
  ScratchDir dir;
  WriteSample(dir / "a.gla", BaseFile());
  WriteSample(dir / "b.gla", DonorFile());
  // A folder in the log's place cannot be opened for appending, not even by root.
  std::filesystem::create_directory(dir / "bone.log");
  RunResult run = RunBonesplice(dir.path(), {"a.gla", "b.gla", "-l"});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(run.signaled);
  EXPECT_EQ(run.output, Banner() + "\nError: cannot open bone.log for appending.");
  EXPECT_TRUE(std::filesystem::is_empty(dir / "bone.log"));
}

}  // namespace
