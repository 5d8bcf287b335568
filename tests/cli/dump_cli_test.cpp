// "-l" runs of the real program: the reports it appends to bone.log, its console text and its
// exit status.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if BONESPLICE_TESTS_FORK
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/dump.h"
#include "format/skeleton.h"
#include "run_program.h"
#include "samples.h"
#include "steered_process.h"

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

// Two bones in base order, scale 2 (the report divides the matrices by it), two frames.
glagen::SampleFile BaseFile() {
  glagen::SampleFile file;
  file.name = "base_anim";
  file.scale = 2.0f;
  glagen::SampleBone root = Bone("root", 0x1, -1, {1});
  root.origin = {2, 0, 0, 20, 0, 2, 0, 40, 0, 0, 2, 61};
  root.inversedOrigin = {2, 0, 0, -20, 0, 2, 0, -40, 0, 0, 2, -61};
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
                                "\nScale: 2.000000\n\n"
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

// The report of the file at path as the library formats it, for files whose exact text the
// golden report and the unit tests pin down.
std::string LibraryReport(const std::filesystem::path& path) {
  return BoneReportOf(ReadFileBytes(path));
}

// Each run appends the base's report, then the donor's; what the log held stays in front.
TEST(DumpCli, ListModeAppendsTheBaseReportThenTheDonorReport) {
  ScratchDir dir;
  WriteSample(dir / "a.gla", BaseFile());
  WriteSample(dir / "b.gla", DonorFile());
  const std::string earlier = "notes of an earlier run\n";
  WriteFileBytes(dir / "bone.log", std::vector<uint8_t>(earlier.begin(), earlier.end()));
  for (const char* first : {"a.gla", "b.gla"}) {
    RunResult run = RunBonesplice(dir.path(), {first, first[0] == 'a' ? "b.gla" : "a.gla", "-l"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, Banner());
  }
  const std::string donorReport = LibraryReport(dir / "b.gla");
  EXPECT_EQ(ReadFileText(dir / "bone.log"),
            earlier + kBaseReport + donorReport + donorReport + kBaseReport);
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

// bone.log is opened for appending only, without waiting for a reader: a FIFO nobody reads is
// refused at once, even by a report larger than a pipe holds; one that is read gets both
// reports.
TEST(DumpCli, ABoneLogFifoIsRefusedUnreadAndWrittenWhenRead) {
  if (RunsWindowsProgram()) GTEST_SKIP() << "a FIFO is a POSIX file";
#if BONESPLICE_TESTS_FORK
  ScratchDir dir;
  glagen::SampleFile many = Generate(7, 400, 3, 50, "many");
  WriteSample(dir / "a.gla", many);
  ASSERT_EQ(mkfifo((dir / "bone.log").c_str(), 0600), 0);
  // Killed after a while rather than waiting for good.
  ProcessOptions limited;
  limited.launcher = "timeout -s KILL 20";
  RunResult unread = Process(dir.path(), {"a.gla", "a.gla", "-l"}, limited).Finish();
  EXPECT_FALSE(unread.signaled);
  EXPECT_EQ(unread.status, 0);
  EXPECT_EQ(unread.output, Banner() + "\nError: cannot open bone.log for appending.");

  // A write end of the test's own keeps the FIFO from ending before the program has opened it.
  int reader = open((dir / "bone.log").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  int keeper = open((dir / "bone.log").c_str(), O_WRONLY);
  ASSERT_GE(keeper, 0);
  fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
  std::string received;
  std::thread drain([&] {
    char buffer[65536];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) != 0;) {
      if (n > 0) received.append(buffer, static_cast<size_t>(n));
      if (n < 0 && errno != EINTR) break;
    }
  });
  RunResult read = RunBonesplice(dir.path(), {"a.gla", "a.gla", "-l"});
  close(keeper);
  drain.join();
  close(reader);
  EXPECT_EQ(read.status, 1);
  std::string report = LibraryReport(dir / "a.gla");
  EXPECT_GT(report.size(), size_t{65536});
  EXPECT_TRUE(received == report + report);
#endif
}

}  // namespace
