// The promises of the platform's output file, input file, file identity and ending routine, on
// the system the tests are built for: these run natively and, built for Windows, under wine.
// What needs a signal or a console event is tested on the real program in tests/cli.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ending.h"
#include "platform/file_id.h"
#include "platform/input_file.h"
#include "platform/output_file.h"
#include "platform/unicode.h"
#include "run_program.h"
#include "steered_process.h"

#if BONESPLICE_TESTS_FORK
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace testing_support;
using bonesplice::platform::Ending;
using bonesplice::platform::InputFile;
using bonesplice::platform::OpenStatus;
using bonesplice::platform::OutputFile;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

// A name too long for the usual temporary's suffix: the temporary takes a short name.
const std::string kLongName(250, 'n');

// The names in dir besides those given.
std::vector<std::string> OtherNames(const fs::path& dir, const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const std::string& name : NamesStartingWith(dir, "")) {
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

// NAME.bonesplice-XXXXXX, or .bonesplice-XXXXXX where that would be too long.
bool IsTemporaryNameOf(const std::string& name, const std::string& output) {
  std::string prefix = (output.size() > 200 ? "" : output) + ".bonesplice-";
  return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Begin makes a temporary beside the file the output name leads to, with a short name where
// the usual one would be too long. Until Commit the output keeps what it held;
// Commit renames the temporary over it with the output's permissions, a link that led to it
// still leading there. Abandon, or the destructor of an output begun, removes the temporary or
// empties an output written in place.
TEST(OutputFile, IsReplacedOnCommitOnlyAndNeverLeftPartial) {
  enum class End { kCommit, kAbandon, kDestructor };
  struct Case {
    std::string label;
    std::string name;    // typed at the prompt
    std::string target;  // the file it leads to
    bool exists;
  };
  std::vector<Case> cases = {
      {"a new file", "out.gla", "out.gla", false},
      {"an existing file", "out.gla", "out.gla", true},
      {"a name too long for a temporary", kLongName, kLongName, true},
  };
  // Twelve folders of 200-byte names, reached through the link "far" to as many more: the
  // target's full path passes PATH_MAX, so the system cannot give it whole.
  std::string deep = "d";
  for (char c = 'a'; c < 'm'; ++c) deep += "/" + std::string(200, c);
#if BONESPLICE_TESTS_FORK  // links and permissions are set with POSIX calls
  cases.push_back({"a symbolic link into another folder", "link.gla", "store/target.gla", true});
  cases.push_back({"a link to a path past PATH_MAX", "link.gla", "far/" + deep + "/target.gla",
                   true});
#endif
  const Bytes old = Pattern(5000, 1);
  const Bytes source = Pattern(300000, 5);
  for (const Case& c : cases) {
    for (End end : {End::kCommit, End::kAbandon, End::kDestructor}) {
      SCOPED_TRACE(c.label.substr(0, 40) + " " + std::to_string(int(end)));
      ScratchDir dir;
      fs::create_directory(dir / "store");
      fs::path target = dir / c.target;
      if (c.target.rfind("far/", 0) == 0) {
        fs::create_directories(dir / deep);
        fs::create_directory_symlink(deep, dir / "far");
        fs::create_directories(target.parent_path());
      }
      if (c.exists) WriteFileBytes(target, old);
#if BONESPLICE_TESTS_FORK
      ASSERT_TRUE(!c.exists || chmod(target.c_str(), 0640) == 0);
      if (c.name != c.target) fs::create_symlink(c.target, dir / c.name);
#endif
      WriteFileBytes(dir / "source.bin", source);
      InputFile input;
      ASSERT_EQ(input.Open((dir / "source.bin").string()), OpenStatus::kOk);
      ASSERT_TRUE(input.Load());
      Bytes expected = Pattern(1000, 9);
      expected.insert(expected.end(), source.begin() + 17, source.begin() + 250017);
      std::vector<std::string> before;
      {
        OutputFile output;
        ASSERT_TRUE(output.Open((dir / c.name).string()));
        before = NamesStartingWith(target.parent_path(), "");
        EXPECT_EQ(ReadFileBytes(target), c.exists ? old : Bytes{});
        output.Begin();
        std::vector<std::string> added = OtherNames(target.parent_path(), before);
        ASSERT_EQ(added.size(), 1u);
        EXPECT_TRUE(IsTemporaryNameOf(added[0], target.filename().string())) << added[0];
        ASSERT_TRUE(output.Write(expected.data(), 1000));
        ASSERT_TRUE(output.CopyFrom(input, 17, 250000));
        EXPECT_EQ(ReadFileBytes(target), c.exists ? old : Bytes{});
        ASSERT_TRUE(end != End::kCommit || output.Commit());
        if (end == End::kAbandon) output.Abandon();
      }
      bonesplice::platform::TheEnd().EndAfterCrash();  // an end from now on cleans up nothing
      Bytes left = end == End::kCommit ? expected : c.exists ? old : Bytes{};
      EXPECT_TRUE(ReadFileBytes(target) == left);
      EXPECT_EQ(OtherNames(target.parent_path(), before), std::vector<std::string>{});
#if BONESPLICE_TESTS_FORK
      EXPECT_EQ(fs::is_symlink(dir / c.name), c.name != c.target);
      mode_t mask = umask(0);
      umask(mask);
      EXPECT_EQ(fs::status(target).permissions(), fs::perms(c.exists ? 0640u : 0666u & ~mask));
#endif
      fs::remove_all(dir / "far" / "d");  // the part of the deep folders PATH_MAX keeps from
                                          // the scratch folder's own removal
    }
  }
}

#if BONESPLICE_TESTS_FORK
// Runs work in a child process, so that the limits it sets end with it; as another user when
// asked and this one is root, so that a folder's permissions bind it. True when work returned
// true.
bool InChild(const std::function<bool()>& work, bool anotherUser = false) {
  pid_t child = fork();
  if (child == 0) {
    if (anotherUser && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// A folder that refuses new files to another user, holding a file that user may write.
fs::path LockedFolderWith(const ScratchDir& dir, const std::string& name, const Bytes& bytes) {
  fs::permissions(dir.path(), fs::perms(0755));
  fs::create_directory(dir / "locked");
  WriteFileBytes(dir / "locked" / name, bytes);
  fs::permissions(dir / "locked" / name, fs::perms(0666));
  fs::permissions(dir / "locked", fs::perms(0555));
  return dir / "locked" / name;
}

// Every write and close is checked: a write the system refuses (here past a file-size limit)
// fails the commit; once the write is abandoned, as the program then does, an output beside
// which a temporary was made keeps what it held, and one written in place (its folder refuses
// new files) is empty, also when the refusal comes only at Commit. size is past the limit;
// under 128 KiB the write is held back until Commit.
void ExpectARefusedWriteToLeaveNoPartialOutput(bool inPlace, size_t size) {
  const Bytes old = Pattern(5000, 1);
  ScratchDir dir;
  fs::path path = dir / "out.gla";
  if (inPlace) {
    path = LockedFolderWith(dir, "out.gla", old);
  } else {
    WriteFileBytes(path, old);
  }
  Bytes written = Pattern(size, 3);
  auto work = [&] {
    OutputFile output;
    if (!output.Open(path.string()) || (inPlace && !output.Truncate())) return false;
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 65536;
    signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || !output.Begin()) return false;
    bool accepted = output.Write(written.data(), written.size());
    bool committed = accepted && output.Commit();
    if (!committed) output.Abandon();
    return accepted == (size < 131072) && !committed;
  };
  EXPECT_TRUE(InChild(work, inPlace));
  EXPECT_EQ(ReadFileBytes(path), inPlace ? Bytes{} : old);
  EXPECT_EQ(OtherNames(path.parent_path(), {"out.gla"}), std::vector<std::string>{});
  if (inPlace) fs::permissions(dir / "locked", fs::perms(0755));
}
#endif

TEST(OutputFile, ARefusedWriteFailsTheCommitAndLeavesNoPartialOutput) {
#if !BONESPLICE_TESTS_FORK
  GTEST_SKIP() << "a write is made to fail with a POSIX file-size limit";
#else
  for (bool inPlace : {false, true}) {
    for (size_t size : {size_t{100000}, size_t{300000}}) {
      SCOPED_TRACE(std::string(inPlace ? "in place, " : "") + std::to_string(size));
      ExpectARefusedWriteToLeaveNoPartialOutput(inPlace, size);
    }
  }
#endif
}

// Where the system refuses to replace the output (Windows, while another program holds it
// open), the finished temporary is copied into it, and removed.
TEST(OutputFile, AReplaceRefusedIsDoneByCopyingInPlace) {
  ScratchDir dir;
  WriteFileBytes(dir / "out.gla", Pattern(5000, 1));
  Bytes expected = Pattern(300000, 8);
  std::FILE* holder = std::fopen((dir / "out.gla").string().c_str(), "rb");
  ASSERT_NE(holder, nullptr);
  {
    OutputFile output;
    ASSERT_TRUE(output.Open((dir / "out.gla").string()));
    ASSERT_TRUE(output.Begin());
    ASSERT_TRUE(output.WriteAt(0, expected.data(), expected.size()));
    EXPECT_TRUE(output.Commit());
    EXPECT_EQ(output.keptTemporary(), "");
  }
  std::fclose(holder);
  EXPECT_TRUE(ReadFileBytes(dir / "out.gla") == expected);
  std::vector<std::string> left = OtherNames(dir.path(), {"out.gla"});
  // Under wine the refused ReplaceFileW leaves a backup of its own, rfXXXX.tmp.
  left.erase(std::remove_if(left.begin(), left.end(),
                            [](const std::string& name) {
                              return RunsWindowsProgram() && name.compare(0, 2, "rf") == 0 &&
                                     name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
                            }),
             left.end());
  EXPECT_EQ(left, std::vector<std::string>{});
}

// Only where no temporary can exist is the output written in place: a folder that refuses new
// files while the output is writable. Any other failure to make the temporary, here for want
// of descriptors, fails Begin and leaves the output as it was.
TEST(OutputFile, IsWrittenInPlaceOnlyWhereNoTemporaryCanExist) {
#if !BONESPLICE_TESTS_FORK
  GTEST_SKIP() << "folder permissions and descriptor limits are set with POSIX calls";
#else
  const Bytes old = Pattern(5000, 1);
  const Bytes expected = Pattern(200000, 6);
  ScratchDir dir;
  fs::path locked = LockedFolderWith(dir, "out.gla", old);
  // The end empties the output in place while it is written; once the output is committed it
  // touches neither it nor a file that takes its descriptor; after it no write lands.
  WriteFileBytes(dir / "reused", {});
  fs::permissions(dir / "reused", fs::perms(0666));
  EXPECT_TRUE(InChild(
      [&] {
        OutputFile output;
        auto writeAll = [&] {
          return output.WriteAt(0, expected.data(), expected.size()) &&
                 ReadFileBytes(locked).size() == expected.size();
        };
        if (!output.Open(locked.string()) || !output.Begin() || !writeAll()) return false;
        bonesplice::platform::TheEnd().EndAfterCrash();
        if (!ReadFileBytes(locked).empty() || !writeAll() || !output.Commit()) return false;
        int reused = open((dir / "reused").c_str(), O_RDWR);
        bool written = write(reused, "kept", 4) == 4;
        bonesplice::platform::TheEnd().EndAfterCrash();
        if (!written || lseek(reused, 0, SEEK_END) != 4 || ReadFileBytes(locked) != expected) {
          return false;
        }
        OutputFile ended;
        if (!ended.Open(locked.string()) || !ended.Begin()) return false;
        bonesplice::platform::TheEnd().End();
        return !ended.WriteAt(0, expected.data(), expected.size()) && !ended.Commit() &&
               ReadFileBytes(locked).empty();
      },
      true));
  EXPECT_EQ(OtherNames(locked.parent_path(), {"out.gla"}), std::vector<std::string>{});
  fs::permissions(dir / "locked", fs::perms(0755));
  fs::remove(dir / "reused");

  WriteFileBytes(dir / "out.gla", old);
  EXPECT_TRUE(InChild([&] {
    OutputFile output;
    if (!output.Open((dir / "out.gla").string())) return false;
    int lowest = dup(0);  // the lowest free descriptor: the temporary's would be past the limit
    close(lowest);
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowest);
    return setrlimit(RLIMIT_NOFILE, &limit) == 0 && !output.Begin();
  }));
  EXPECT_TRUE(ReadFileBytes(dir / "out.gla") == old);
  EXPECT_EQ(OtherNames(dir.path(), {"out.gla", "locked"}), std::vector<std::string>{});
#endif
}

TEST(InputFile, OnlyARegularFileIsOpened) {
  ScratchDir dir;
  WriteFileBytes(dir / "file.gla", {1, 2, 3});
  struct Case {
    std::string path;
    OpenStatus status;
  };
  std::vector<Case> cases = {
      {(dir / "file.gla").string(), OpenStatus::kOk},
      {(dir / "missing.gla").string(), OpenStatus::kCannotOpen},
  };
#if BONESPLICE_TESTS_FORK
  fs::create_directory(dir / "folder");
  cases.push_back({(dir / "folder").string(), OpenStatus::kNotRegular});
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: opening it must not wait
  cases.push_back({(dir / "fifo").string(), OpenStatus::kNotRegular});
  cases.push_back({"/dev/null", OpenStatus::kNotRegular});
#else
  cases.push_back({"NUL", OpenStatus::kNotRegular});  // a folder: see the test below
#endif
  for (const Case& c : cases) {
    InputFile input;
    EXPECT_EQ(input.Open(c.path), c.status) << c.path;
  }
}

// Windows opens no folder as a file; it still exists, and is not a regular file.
TEST(InputFile, AFolderIsNotARegularFile) {
  ScratchDir dir;
  fs::create_directory(dir / "folder");
  InputFile input;
  EXPECT_EQ(input.Open((dir / "folder").string()), OpenStatus::kNotRegular);
}

// A file changed after it was loaded is noted: shortened by another program, or rewritten with
// a new time. Where the file is mapped (POSIX), the bytes cut away read as zeros from every
// thread that reads them, even at once, and the fault alone tells; a file read whole (Windows)
// keeps the bytes it had, and its new size tells.
TEST(InputFile, AFileChangedAfterLoadIsNoted) {
  const Bytes bytes = Pattern(64 * 4096, 4);
  for (bool shorten : {false, true}) {
    SCOPED_TRACE(shorten ? "shortened" : "touched");
    ScratchDir dir;
    fs::path path = dir / "input.gla";
    WriteFileBytes(path, bytes);
    InputFile input;
    ASSERT_EQ(input.Open(path.string()), OpenStatus::kOk);
    ASSERT_TRUE(input.Load());
    ASSERT_EQ(Bytes(input.data(), input.data() + input.size()), bytes);
    EXPECT_FALSE(input.failed());
    if (shorten) {
      fs::file_time_type written = fs::last_write_time(path);
      fs::resize_file(path, 100);
      Bytes seen[2];
      auto readPages = [&](int reader) {
        const volatile uint8_t* data = input.data();
        for (size_t at = 4095; at < bytes.size(); at += 4096) {
          seen[reader].push_back(static_cast<uint8_t>(data[at]));
        }
      };
      std::thread other(readPages, 1);
      readPages(0);
      other.join();
      EXPECT_EQ(seen[0], seen[1]);
#if BONESPLICE_TESTS_FORK
      EXPECT_EQ(seen[0], Bytes(seen[0].size(), 0));
      fs::resize_file(path, bytes.size());
      fs::last_write_time(path, written);
#else
      EXPECT_EQ(seen[0][0], bytes[4095]);
      (void)written;
#endif
    } else {
      fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
    }
    EXPECT_TRUE(input.failed());
  }
}

// One file, whatever path or link leads to it, is one identity, the same by name or by handle.
TEST(FileId, OneFileHasOneIdentityWhateverLeadsToIt) {
  using bonesplice::platform::IdentityOfHandle;
  using bonesplice::platform::IdentityOfPath;
  using bonesplice::platform::SameFile;
  ScratchDir dir;
  fs::create_directory(dir / "sub");
  WriteFileBytes(dir / "a.gla", {1});
  WriteFileBytes(dir / "b.gla", {1});
  fs::create_hard_link(dir / "a.gla", dir / "hard.gla");
  std::vector<fs::path> same = {dir / "a.gla", dir / "sub" / ".." / "a.gla", dir / "hard.gla"};
#if BONESPLICE_TESTS_FORK
  fs::create_symlink("a.gla", dir / "soft.gla");
  same.push_back(dir / "soft.gla");
#else
  same.push_back(dir / "A.GLA");                      // letter case aside
#endif
  InputFile opened;
  ASSERT_EQ(opened.Open((dir / "a.gla").string()), OpenStatus::kOk);
  bonesplice::platform::FileId id = IdentityOfHandle(opened.handle());
  for (const fs::path& path : same)
    EXPECT_TRUE(SameFile(IdentityOfPath(path.string()), id)) << path;
  EXPECT_FALSE(SameFile(IdentityOfPath((dir / "b.gla").string()), id));
  bonesplice::platform::FileId missing = IdentityOfPath((dir / "missing.gla").string());
  EXPECT_FALSE(missing.valid);
  EXPECT_FALSE(SameFile(missing, missing));
}

// The ending routine waits for a step under way (a write to an output in place, a change of what
// it cleans up), lets none start after it, and removes what it was handed.
TEST(Ending, WaitsForTheStepUnderWayAndLetsNoneStartAfterIt) {
  ScratchDir dir;
  const std::string temporary = (dir / "temporary").string();
  Ending ending;
  std::atomic<bool> inStep{false};
  bool stepDone = false;
  std::thread writer([&] {
    ending.HoldingOff([&] {
      WriteFileBytes(temporary, {1});
      ending.RemoveAtEnd(temporary.c_str());
      inStep = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      stepDone = true;
    });
  });
  while (!inStep) std::this_thread::yield();
  ending.End();
  EXPECT_TRUE(stepDone);
  writer.join();
  EXPECT_FALSE(fs::exists(temporary));
  bool ran = false;
  EXPECT_FALSE(ending.HoldingOff([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

// The end removes the temporary from the moment it exists until it is renamed or removed:
// nothing before Begin, the temporary after it (the output keeping what it held). Windows keeps
// the name of a removed file that is still open until it is closed, but it opens no more.
TEST(OutputFile, HandsTheEndItsTemporaryWhileItExists) {
  ScratchDir dir;
  const Bytes old = Pattern(5000, 1);
  WriteFileBytes(dir / "out.gla", old);
  OutputFile output;
  ASSERT_TRUE(output.Open((dir / "out.gla").string()));
  bonesplice::platform::TheEnd().EndAfterCrash();
  ASSERT_TRUE(output.Begin());
  std::vector<std::string> added = OtherNames(dir.path(), {"out.gla"});
  ASSERT_EQ(added.size(), 1u);
  bonesplice::platform::TheEnd().EndAfterCrash();
  EXPECT_FALSE(std::ifstream(dir / added[0]).is_open());
  EXPECT_EQ(ReadFileBytes(dir / "out.gla"), old);
  output.Abandon();
}

// A crash (abort, or a fault outside a guarded mapping) removes the temporary at once, and the
// program still ends as the crash would have. A death test runs this test again from its start
// in a child process, which takes the parent's folder from the environment.
TEST(EndingDeathTest, ACrashRemovesTheTemporary) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  static const char kFolder[] = "BONESPLICE_TEST_CRASH_FOLDER";
  std::optional<ScratchDir> dir;
  fs::path folder;
  if (const char* inherited = std::getenv(kFolder)) {
    folder = inherited;
  } else {
    dir.emplace();
    folder = dir->path();
#if BONESPLICE_TESTS_FORK
    setenv(kFolder, folder.string().c_str(), 1);
#else
    _putenv_s(kFolder, folder.string().c_str());
#endif
  }
  for (const char* crash : {"abort", "fault"}) {
    SCOPED_TRACE(crash);
    const fs::path output = folder / (std::string(crash) + ".gla");
    WriteFileBytes(output, {1});
    EXPECT_DEATH(
        {
          bonesplice::platform::PrepareProcess();
          OutputFile file;
          if (file.Open(output.string()) && file.Begin()) {
            if (crash[0] == 'f') *static_cast<volatile int*>(nullptr) = 1;
            std::abort();
          }
        },
        "");
    EXPECT_EQ(OtherNames(folder, {"abort.gla", "fault.gla"}), std::vector<std::string>{});
  }
#if BONESPLICE_TESTS_FORK
  unsetenv(kFolder);
#else
  _putenv_s(kFolder, "");
#endif
}

// Wide text from the system as UTF-8: one to four bytes a character, a character past U+FFFF
// from a surrogate pair where wchar_t has 16 bits, and U+FFFD for a unit that is no character.
TEST(Unicode, WideTextBecomesUtf8) {
  using bonesplice::platform::Utf8FromWide;
  const std::wstring text = L"a\u00e9\u6b69\U0001F600";
  EXPECT_EQ(Utf8FromWide(text.data(), text.size()),
            "a\xC3\xA9\xE6\xAD\xA9\xF0\x9F\x98\x80");
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), L'b'};
  EXPECT_EQ(Utf8FromWide(lone, 2), "\xEF\xBF\xBD" "b");
}

}  // namespace
