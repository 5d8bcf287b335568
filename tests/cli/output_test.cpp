// The output as the name at the prompt shows it: never partial, whatever ends the run: a kill,
// an ending signal, a failed write. The output file's promises on both systems are tested in
// tests/unit/platform_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "run_program.h"
#include "samples.h"
#include "steered_process.h"

namespace {

using namespace testing_support;
namespace messages = bonesplice::messages;
namespace fs = std::filesystem;

// A pair large enough that writing the merge takes a while: about 20 MB of output.
class Output : public ::testing::Test {
 protected:
  void SetUp() override {
    glagen::SampleFile baseFile = Generate(60, 70, 2000, 400000, "base", nullptr, 0, false, 0.2);
    base = WriteSample(dir / "base.gla", baseFile);
    donor = WriteSample(dir / "donor.gla",
                        Generate(61, 70, 4000, 400000, "donor", &baseFile, 0.3, true, 0.2));
  }

  void ExpectSourcesUnchanged() const {
    EXPECT_EQ(ReadFileBytes(dir / "base.gla"), base);
    EXPECT_EQ(ReadFileBytes(dir / "donor.gla"), donor);
  }

  ScratchDir dir;
  std::vector<uint8_t> base;
  std::vector<uint8_t> donor;
};

// Under wine too, where a kill ends the Windows program as it ends any process; a run there
// takes ten times as long, so only the plain merge is killed.
TEST_F(Output, AMergeKilledAtAnyMomentLeavesTheOutputEmptyOrWhole) {
  for (bool optimize : {false, true}) {
    if (optimize && RunsWindowsProgram()) break;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunBonesplice(dir.path(), MergeArguments(optimize), "whole.gla\n").status, 1);
    auto undisturbed = std::chrono::steady_clock::now() - start;
    std::vector<uint8_t> whole = ReadFileBytes(dir / "whole.gla");
    int empty = 0, complete = 0;
    // Moments spread from the start of the run to a little past the end of an undisturbed one.
    for (int moment = 0; moment < 12; ++moment) {
      auto delay = undisturbed * moment / 10;
      fs::remove(dir / "out.gla");
      Process process(dir.path(), MergeArguments(optimize));
      ASSERT_TRUE(process.WaitFor(messages::kPrompt));
      process.Write("out.gla\n");
      std::this_thread::sleep_for(delay);
      process.Signal(SIGKILL);
      process.Finish();
      // Killed before the name was read, there is no output at all.
      std::vector<uint8_t> left;
      if (fs::exists(dir / "out.gla")) left = ReadFileBytes(dir / "out.gla");
      if (left.empty()) {
        ++empty;
      } else {
        ++complete;
        ASSERT_EQ(left, whole) << "killed at moment " << moment;
      }
      for (const std::string& temp : NamesStartingWith(dir.path(), "out.gla.bonesplice-")) {
        fs::remove(dir / temp);  // only a kill that cannot be caught leaves one behind
      }
    }
    ExpectSourcesUnchanged();
    RecordProperty(optimize ? "empty with -o" : "empty", empty);
    RecordProperty(optimize ? "whole with -o" : "whole", complete);
  }
}

// Each ending signal removes the temporary, or empties an output written in place (in a folder
// that refuses new files), and ends the program as the signal does, within two seconds: a fault
// signal that another process sends too, and on one thread or seven.
TEST_F(Output, SignalsToEndLeaveNoPartialOutputAndEndTheProgramAsTheyWould) {
  if (RunsWindowsProgram()) {
    GTEST_SKIP() << "wine turns no POSIX signal into a console event (Ctrl+C, Ctrl+Break) for a "
                    "program started without a console";
  }
  struct Case {
    int number;
    std::string name;
    const char* threads = "2";
  };
  // Every signal that ends a process and can be caught, the real-time ones too; then a name too
  // long for the usual temporary, which gets a short one beside it; then an output in a folder
  // that refuses new files, written in place (by a user other than root, whom no folder refuses).
  std::vector<Case> cases;
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                     SIGPROF, SIGXCPU, SIGTRAP, SIGSEGV, SIGRTMIN + 3}) {
    cases.push_back({number, "out.gla"});
  }
  cases.push_back({SIGTERM, std::string(250, 'n')});
  ProcessOptions noCore;
  noCore.shellPrefix = "ulimit -c 0";
  ProcessOptions inPlace = noCore;
  inPlace.launcher = AnotherUser();
  bool lockable = getuid() != 0 || !inPlace.launcher.empty();
  if (lockable) {
    for (Case c : {Case{SIGINT, "", "1"}, Case{SIGTERM, "", "7"}, Case{SIGSEGV, "", "1"},
                   Case{SIGBUS, "", "1"}, Case{SIGSEGV, "", "7"}, Case{SIGBUS, "", "7"}}) {
      c.name = "locked/out.gla";
      cases.push_back(c);
    }
    fs::permissions(dir.path(), fs::perms(0755));
    fs::create_directory(dir / "locked");
    WriteFileBytes(dir / "locked" / "out.gla", {});
    fs::permissions(dir / "locked" / "out.gla", fs::perms(0666));
    fs::permissions(dir / "locked", fs::perms(0555));
  }
  std::vector<uint8_t> wholes[2];
  for (bool optimize : {false, true}) {
    ASSERT_EQ(RunBonesplice(dir.path(), MergeArguments(optimize), "whole.gla\n").status, 1);
    wholes[optimize] = ReadFileBytes(dir / "whole.gla");
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.number) + " " + c.name.substr(0, 10) + " " + c.threads);
    std::string temporary = c.name.size() > 200 ? ".bonesplice-" : c.name + ".bonesplice-";
    bool locked = c.name.rfind("locked/", 0) == 0;
    ProcessOptions options = locked ? inPlace : noCore;
    options.shellPrefix += std::string("; export BONESPLICE_THREADS=") + c.threads;
    bool caughtWriting = false;
    // The signal must come while the output is being written; a run that ends first is tried
    // again.
    for (int attempt = 0; attempt < 20 && !caughtWriting; ++attempt) {
      Process process(dir.path(), MergeArguments(attempt % 2 == 1), options);
      ASSERT_TRUE(process.WaitFor(messages::kPrompt));
      process.Write(c.name + "\n");
      ASSERT_TRUE(process.WaitFor(messages::Progress(0)));
      // Until the temporary appears, or the output in place grows.
      auto start = std::chrono::steady_clock::now();
      while (NamesStartingWith(dir.path(), temporary).empty() && fs::file_size(dir / c.name) == 0 &&
             std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
        std::this_thread::yield();
      }
      process.Signal(c.number);
      RunResult run = process.Finish(std::chrono::seconds(2));
      if (!run.signaled) continue;  // it had finished
      EXPECT_EQ(run.status, 128 + c.number);
      EXPECT_TRUE(NamesStartingWith(dir.path(), temporary).empty());
      // A signal after the output was replaced, on the way out, finds the merge whole.
      std::vector<uint8_t> left = ReadFileBytes(dir / c.name);
      if (left == wholes[attempt % 2]) continue;
      caughtWriting = true;
      EXPECT_TRUE(left.empty());
    }
    EXPECT_TRUE(caughtWriting);
  }
  if (lockable) fs::permissions(dir / "locked", fs::perms(0755));
  ExpectSourcesUnchanged();
}

// A write into a FIFO whose reader has stopped reading delays no end: the program ends by the
// signal within a second, whether the reader stalls before the first byte or before the last
// pieces (when one thread is left writing), on one thread or two.
TEST_F(Output, AnEndingSignalEndsAMergeIntoAStalledFifoAtOnce) {
  if (RunsWindowsProgram()) GTEST_SKIP() << "a FIFO is a POSIX file";
  ASSERT_EQ(RunBonesplice(dir.path(), MergeArguments(false), "whole.gla\n").status, 1);
  const size_t whole = static_cast<size_t>(fs::file_size(dir / "whole.gla"));
  constexpr int kFullFifo = 60000;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (int number : {SIGTERM, SIGINT}) {
    for (const char* threads : {"1", "2"}) {
      for (size_t unread : {whole, size_t{256} << 10}) {
        SCOPED_TRACE(std::to_string(number) + " " + threads + " " + std::to_string(unread));
        // The read end is open before the program starts; it never waits for a reader.
        int reader = open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        ProcessOptions options;
        options.shellPrefix = std::string("export BONESPLICE_THREADS=") + threads;
        Process process(dir.path(), MergeArguments(false), options);
        process.Write("pipe\n");
        // All but the unread bytes are taken; then the reader stalls, with the FIFO full (its
        // 64 KiB, less what pieces of a page the writes leave unused).
        std::vector<uint8_t> buffer(65536);
        size_t taken = 0;
        int queued = 0;
        auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
          if (taken < whole - unread) {
            ssize_t n =
                read(reader, buffer.data(), std::min(buffer.size(), whole - unread - taken));
            if (n > 0) taken += static_cast<size_t>(n);
          } else if (ioctl(reader, FIONREAD, &queued) != 0 || queued >= kFullFifo) {
            break;
          }
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_GE(queued, kFullFifo);
        process.Signal(number);
        RunResult run = process.Finish(std::chrono::seconds(1));
        close(reader);
        EXPECT_TRUE(run.signaled);
        EXPECT_EQ(run.status, 128 + number);
      }
    }
  }
  std::vector<std::string> names = NamesStartingWith(dir.path(), "");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"base.gla", "donor.gla", "pipe", "whole.gla"}));
  ExpectSourcesUnchanged();
}

// A FIFO cannot take its header again: every frame is re-pointed before the first byte goes
// out, and the bytes are those of a file. The program opens its output without waiting for a
// reader, so the read end is open before it starts; a write end of the test's own keeps the
// FIFO from ending before the program has opened it.
TEST_F(Output, AFifoGetsTheMergeInOnePass) {
  if (RunsWindowsProgram()) GTEST_SKIP() << "a FIFO is a POSIX file";
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (bool optimize : {false, true}) {
    int reader = open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    int keeper = open((dir / "pipe").c_str(), O_WRONLY);
    ASSERT_GE(keeper, 0);
    fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
    std::vector<uint8_t> received;
    std::thread drain([&] {
      uint8_t buffer[65536];
      for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) != 0;) {
        if (n > 0) received.insert(received.end(), buffer, buffer + n);
        if (n < 0 && errno != EINTR) break;
      }
    });
    RunResult run = RunBonesplice(dir.path(), MergeArguments(optimize), "pipe\n");
    close(keeper);
    drain.join();
    close(reader);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(RunBonesplice(dir.path(), MergeArguments(optimize), "file.gla\n").status, 1);
    EXPECT_EQ(received, ReadFileBytes(dir / "file.gla"));
  }
}

TEST_F(Output, AFailedWriteLeavesNoPartialDataUnderAnyName) {
  if (RunsWindowsProgram())
    GTEST_SKIP() << "file-size limits, /dev/full and symbolic links are POSIX";
  // A file-size limit of 8 KiB, reached through a symbolic link and a hard link.
  WriteFileBytes(dir / "target.gla", {9});
  fs::create_symlink("target.gla", dir / "soft.gla");
  fs::create_hard_link(dir / "target.gla", dir / "hard.gla");
  ProcessOptions limited;
  limited.shellPrefix = "ulimit -f 16";
  for (const char* name : {"soft.gla", "hard.gla", "out.gla"}) {
    SCOPED_TRACE(name);
    Process process(dir.path(), MergeArguments(false), limited);
    process.Write(std::string(name) + "\n");
    RunResult run = process.Finish();
    EXPECT_EQ(run.output.substr(run.output.rfind("\nError")),
              messages::MessageOf(bonesplice::OutputUnwritable{}, name));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fs::file_size(dir / name), 0u);  // through a link: the file it leads to
    EXPECT_TRUE(fs::is_symlink(dir / "soft.gla"));
  }
  for (const char* name : {"out.gla", "target.gla"}) {
    EXPECT_TRUE(NamesStartingWith(dir.path(), std::string(name) + ".").empty());
  }
  // A full device is written in place and left as it is.
  RunResult full = RunBonesplice(dir.path(), MergeArguments(false), "/dev/full\n");
  EXPECT_EQ(full.output.substr(full.output.rfind("\nError")),
            messages::MessageOf(bonesplice::OutputUnwritable{}, "/dev/full"));
  EXPECT_EQ(full.status, 0);
  ExpectSourcesUnchanged();
}

// Only where no temporary can exist is the output written in place: a folder that refuses new
// files while the output is writable. A name too long for the usual temporary gets a short one
// beside it, so that a kill leaves no partial output; a temporary that cannot be made for want
// of descriptors ends the run with the output as the prompt left it.
TEST_F(Output, TheOutputIsWrittenInPlaceOnlyWhereNoTemporaryCanExist) {
  if (RunsWindowsProgram()) {
    GTEST_SKIP() << "descriptor limits and folder permissions are POSIX; the Windows program's "
                    "temporaries are tested in tests/unit/platform_test.cpp";
  }
  ASSERT_EQ(RunBonesplice(dir.path(), MergeArguments(false), "whole.gla\n").status, 1);
  const std::vector<uint8_t> whole = ReadFileBytes(dir / "whole.gla");

  // 0, 1, 2, the base, the donor and the output take the six descriptors there are; any other
  // the test process leaves open is closed first.
  ProcessOptions sixDescriptors;
  sixDescriptors.shellPrefix =
      "for fd in 3 4 5 6 7 8 9; do eval \"exec $fd>&-\"; done; ulimit -n 6";
  Process starved(dir.path(), MergeArguments(false), sixDescriptors);
  starved.Write("out.gla\n");
  RunResult run = starved.Finish();
  EXPECT_EQ(run.output.substr(run.output.rfind("\nError")),
            messages::MessageOf(bonesplice::OutputUnwritable{}, "out.gla"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(fs::file_size(dir / "out.gla"), 0u);
  EXPECT_TRUE(NamesStartingWith(dir.path(), "out.gla.").empty());

  std::string longName(250, 'n');
  bool killedWriting = false;
  for (int attempt = 0; attempt < 20 && !killedWriting; ++attempt) {
    Process process(dir.path(), MergeArguments(false));
    process.Write(longName + "\n");
    ASSERT_TRUE(process.WaitFor(messages::Progress(0)));
    while (NamesStartingWith(dir.path(), ".bonesplice-").empty() && !process.Printed("\n\n")) {
      std::this_thread::yield();
    }
    process.Signal(SIGKILL);
    killedWriting = process.Finish().signaled && fs::file_size(dir / longName) == 0;
    for (const std::string& left : NamesStartingWith(dir.path(), ".bonesplice-")) {
      fs::remove(dir / left);  // what a kill leaves, and the only thing
    }
  }
  EXPECT_TRUE(killedWriting);
  EXPECT_EQ(RunBonesplice(dir.path(), MergeArguments(false), longName + "\n").status, 1);
  EXPECT_TRUE(ReadFileBytes(dir / longName) == whole);
  EXPECT_TRUE(NamesStartingWith(dir.path(), ".bonesplice-").empty());

  // A folder that refuses new files (to a user other than root, who may write anywhere).
  ProcessOptions someoneElse;
  someoneElse.launcher = AnotherUser();
  if (getuid() == 0 && someoneElse.launcher.empty()) GTEST_SKIP() << "no other user to be";
  fs::permissions(dir.path(), fs::perms(0755));
  fs::create_directory(dir / "locked");
  WriteFileBytes(dir / "locked" / "out.gla", {1, 2, 3});
  fs::permissions(dir / "locked" / "out.gla", fs::perms(0666));
  fs::permissions(dir / "locked", fs::perms(0555));
  Process locked(dir.path(), MergeArguments(false), someoneElse);
  locked.Write("locked/out.gla\n");
  EXPECT_EQ(locked.Finish().status, 1);
  EXPECT_TRUE(ReadFileBytes(dir / "locked" / "out.gla") == whole);
  fs::permissions(dir / "locked", fs::perms(0755));
  ExpectSourcesUnchanged();
}

// A rename the system refuses does not lose the finished merge: in a folder with the sticky
// bit, where only the owner of the output may replace it, the merge is copied into it instead.
TEST_F(Output, ARefusedRenameCopiesTheFinishedMergeInPlace) {
  if (RunsWindowsProgram()) {
    GTEST_SKIP() << "sticky folders are POSIX; tests/unit/platform_test.cpp has the Windows case";
  }
  ProcessOptions someoneElse;
  someoneElse.launcher = AnotherUser();
  if (someoneElse.launcher.empty()) GTEST_SKIP() << "the output must belong to another user";
  ASSERT_EQ(RunBonesplice(dir.path(), MergeArguments(true), "whole.gla\n").status, 1);
  fs::permissions(dir.path(), fs::perms(0755));
  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms(01777));
  WriteFileBytes(dir / "shared" / "out.gla", {1, 2, 3});
  fs::permissions(dir / "shared" / "out.gla", fs::perms(0666));
  Process process(dir.path(), MergeArguments(true), someoneElse);
  process.Write("shared/out.gla\n");
  EXPECT_EQ(process.Finish().status, 1);
  EXPECT_TRUE(ReadFileBytes(dir / "shared" / "out.gla") == ReadFileBytes(dir / "whole.gla"));
  EXPECT_TRUE(NamesStartingWith(dir / "shared", "out.gla.").empty());
  struct stat status;
  ASSERT_EQ(stat((dir / "shared" / "out.gla").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 0u);  // still the file the prompt opened

  // Where the copy fails too (the finished merge takes the output's permissions, here write
  // only, so that it cannot be read back), the merge is kept under its temporary name, and the
  // output is left empty.
  WriteFileBytes(dir / "shared" / "sealed.gla", {1, 2, 3});
  fs::permissions(dir / "shared" / "sealed.gla", fs::perms(0222));
  Process sealed(dir.path(), MergeArguments(true), someoneElse);
  sealed.Write("shared/sealed.gla\n");
  RunResult run = sealed.Finish();
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> kept = NamesStartingWith(dir / "shared", "sealed.gla.bonesplice-");
  ASSERT_EQ(kept.size(), 1u);
  const std::string keptAs = (fs::canonical(dir / "shared") / kept[0]).string();
  EXPECT_EQ(run.output.substr(run.output.rfind("\nError")),
            messages::MessageOf(bonesplice::OutputNotReplaced{keptAs}, "shared/sealed.gla"));
  EXPECT_TRUE(ReadFileBytes(dir / "shared" / kept[0]) == ReadFileBytes(dir / "whole.gla"));
  EXPECT_EQ(fs::file_size(dir / "shared" / "sealed.gla"), 0u);
}

}  // namespace
