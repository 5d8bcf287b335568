// The promises of the platform's output file, input file and file identity, on the system the
// tests are built for: these run natively and, built for Windows, under wine. What needs a
// signal or the end of a process is tested on the real program in tests/cli.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_id.h"
#include "platform/input_file.h"
#include "platform/output_file.h"
#include "run_program.h"
#include "steered_process.h"

#if BONESPLICE_TESTS_FORK
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace testing_support;
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

// A name too long for the temporary's suffix: the output is written in place.
const std::string kLongName(250, 'n');

// The names in dir besides those given.
std::vector<std::string> OtherNames(const fs::path& dir, const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const std::string& name : NamesStartingWith(dir, "")) {
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

bool IsTemporaryNameOf(const std::string& name, const std::string& output) {
  std::string prefix = output + ".bonesplice-";
  return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Begin makes a temporary beside the file the output name leads to, or, where none can be made
// (a name too long for the suffix), writes in place. Until Commit the output keeps what it held;
// Commit renames the temporary over it with the output's permissions, a link that led to it
// still leading there. Abandon, or the destructor of an output begun, removes the temporary or
// empties an output written in place.
TEST(OutputFile, IsReplacedOnCommitOnlyAndNeverLeftPartial) {
  enum class End { kCommit, kAbandon, kDestructor };
  struct Case {
    const char* label;
    const char* name;    // typed at the prompt
    const char* target;  // the file it leads to
    bool exists;
  };
  std::vector<Case> cases = {
      {"a new file", "out.gla", "out.gla", false},
      {"an existing file", "out.gla", "out.gla", true},
      {"a name too long for a temporary", kLongName.c_str(), kLongName.c_str(), true},
  };
#if BONESPLICE_TESTS_FORK  // links and permissions are set with POSIX calls
  cases.push_back({"a symbolic link into another folder", "link.gla", "store/target.gla", true});
#endif
  const Bytes old = Pattern(5000, 1);
  const Bytes source = Pattern(300000, 5);
  for (const Case& c : cases) {
    for (End end : {End::kCommit, End::kAbandon, End::kDestructor}) {
      SCOPED_TRACE(std::string(c.label).substr(0, 40) + " " + std::to_string(int(end)));
      ScratchDir dir;
      fs::create_directory(dir / "store");
      fs::path target = dir / c.target;
      if (c.exists) WriteFileBytes(target, old);
#if BONESPLICE_TESTS_FORK
      ASSERT_TRUE(!c.exists || chmod(target.c_str(), 0640) == 0);
      if (target.filename() == "target.gla") fs::create_symlink("store/target.gla", dir / c.name);
#endif
      bool inPlace = c.name == kLongName;
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
        ASSERT_EQ(added.size(), inPlace ? 0u : 1u);
        EXPECT_TRUE(inPlace || IsTemporaryNameOf(added[0], target.filename().string()));
        ASSERT_TRUE(output.Write(expected.data(), 1000));
        ASSERT_TRUE(output.CopyFrom(input, 17, 250000));
        EXPECT_EQ(ReadFileBytes(target).size() > old.size(), inPlace);
        ASSERT_TRUE(end != End::kCommit || output.Commit());
        if (end == End::kAbandon) output.Abandon();
      }
      Bytes left = end == End::kCommit ? expected : inPlace ? Bytes{} : c.exists ? old : Bytes{};
      EXPECT_TRUE(ReadFileBytes(target) == left);
      EXPECT_EQ(OtherNames(target.parent_path(), before), std::vector<std::string>{});
#if BONESPLICE_TESTS_FORK
      EXPECT_EQ(fs::is_symlink(dir / c.name), target.filename() == "target.gla");
      mode_t mask = umask(0);
      umask(mask);
      EXPECT_EQ(fs::status(target).permissions(), fs::perms(c.exists && !inPlace ? 0640u
                                                            : c.exists           ? 0640u
                                                                                 : 0666u & ~mask));
#endif
    }
  }
}

#if BONESPLICE_TESTS_FORK
// Every write and close is checked: a write the system refuses (here past a file-size limit)
// fails the commit; once the write is abandoned, as the program then does, an output beside
// which a temporary was made keeps what it held, and one written in place is empty. size is
// past the limit; under 128 KiB the write is held back until Commit.
void ExpectARefusedWriteToLeaveNoPartialOutput(bool inPlace, size_t size) {
  const Bytes old = Pattern(5000, 1);
  ScratchDir dir;
  std::string name = inPlace ? kLongName : "out.gla";
  WriteFileBytes(dir / name, old);
  OutputFile output;
  ASSERT_TRUE(output.Open((dir / name).string()));
  if (inPlace) {
    ASSERT_TRUE(output.Truncate());  // as the program does at the prompt
  }
  Bytes written = Pattern(size, 3);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 65536;
  auto previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  output.Begin();
  bool accepted = output.Write(written.data(), written.size());
  bool committed = accepted && output.Commit();
  if (!committed) output.Abandon();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(accepted, size < 131072);
  EXPECT_FALSE(committed);
  EXPECT_EQ(ReadFileBytes(dir / name), inPlace ? Bytes{} : old);
  EXPECT_EQ(OtherNames(dir.path(), {name}), std::vector<std::string>{});
}
#endif

TEST(OutputFile, ARefusedWriteFailsTheCommitAndLeavesNoPartialOutput) {
#if !BONESPLICE_TESTS_FORK
  GTEST_SKIP() << "a write is made to fail with a POSIX file-size limit";
#else
  for (size_t size : {size_t{100000}, size_t{300000}}) {
    SCOPED_TRACE(size);
    ExpectARefusedWriteToLeaveNoPartialOutput(false, size);
  }
  SCOPED_TRACE("in place");
  ExpectARefusedWriteToLeaveNoPartialOutput(true, 300000);
#endif
}

// Fails: when the last write to an output written in place is refused only at Commit, Commit
// closes the output, so that the Abandon after it can no longer empty it and the bytes written
// before the refusal stay. Enable it once OutputFile keeps the promise.
TEST(OutputFile, DISABLED_AnOutputWrittenInPlaceAndRefusedAtCommitIsEmptied) {
#if !BONESPLICE_TESTS_FORK
  GTEST_SKIP() << "a write is made to fail with a POSIX file-size limit";
#else
  ExpectARefusedWriteToLeaveNoPartialOutput(true, 100000);
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

// Fails on Windows, where a folder cannot be opened as a file at all, so that it is reported as
// kCannotOpen ("files not found"). Enable it once InputFile keeps the promise there too.
TEST(InputFile, DISABLED_AFolderIsNotARegularFile) {
  ScratchDir dir;
  fs::create_directory(dir / "folder");
  InputFile input;
  EXPECT_EQ(input.Open((dir / "folder").string()), OpenStatus::kNotRegular);
}

// A file changed after it was loaded is noted: shortened (where the system allows a mapped file
// to be shortened; the bytes cut away then read as zeros, and the read is remembered), or
// rewritten with a new time.
TEST(InputFile, AFileChangedAfterLoadIsNoted) {
  const Bytes bytes = Pattern(3 * 65536, 4);
  for (bool shorten : {false, true}) {
#if !BONESPLICE_TESTS_FORK
    if (shorten) continue;  // Windows does not shorten a file while it is mapped
#endif
    SCOPED_TRACE(shorten ? "shortened" : "touched");
    ScratchDir dir;
    fs::path path = dir / "input.gla";
    WriteFileBytes(path, bytes);
    InputFile input;
    ASSERT_EQ(input.Open(path.string()), OpenStatus::kOk);
    ASSERT_TRUE(input.Load());
    ASSERT_EQ(Bytes(input.data(), input.data() + input.size()), bytes);
    EXPECT_FALSE(input.failed());
#if BONESPLICE_TESTS_FORK
    if (shorten) {
      fs::file_time_type written = fs::last_write_time(path);
      ASSERT_EQ(truncate(path.c_str(), 100), 0);
      EXPECT_EQ(static_cast<const volatile uint8_t*>(input.data())[bytes.size() - 1], 0);
      // Size and time put back as they were: the fault alone tells.
      ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(bytes.size())), 0);
      fs::last_write_time(path, written);
    }
#endif
    if (!shorten) fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
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

}  // namespace
