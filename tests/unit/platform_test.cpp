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
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (!((name[i] >= 'a' && name[i] <= 'z') || (name[i] >= '0' && name[i] <= '9'))) return false;
  }
  return true;
}

// Begin makes a temporary beside the file the output name leads to; the output keeps what it
// held until Commit renames the temporary over it, with the output's permissions, and a link
// that led to it still does.
TEST(OutputFile, ReplacesTheOutputOnlyOnCommit) {
  struct Case {
    const char* label;
    const char* name;    // typed at the prompt
    const char* target;  // the file it leads to
    bool exists;
    bool posixOnly;
  };
  const Case cases[] = {
      {"a new file", "out.gla", "out.gla", false, false},
      {"an existing file", "out.gla", "out.gla", true, false},
      {"a symbolic link into another folder", "link.gla", "store/target.gla", true, true},
  };
  for (const Case& c : cases) {
#if !BONESPLICE_TESTS_FORK
    if (c.posixOnly) continue;  // links and permissions are set with POSIX calls
#endif
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    fs::create_directory(dir / "store");
    const Bytes old = {1, 2, 3};
    if (c.exists) WriteFileBytes(dir / c.target, old);
#if BONESPLICE_TESTS_FORK
    if (c.exists) {
      ASSERT_EQ(chmod((dir / c.target).string().c_str(), 0640), 0);
    }
    if (c.posixOnly) fs::create_symlink("store/target.gla", dir / c.name);
#endif
    const Bytes source = Pattern(300000, 5);
    WriteFileBytes(dir / "source.bin", source);
    InputFile input;
    ASSERT_EQ(input.Open((dir / "source.bin").string()), OpenStatus::kOk);
    ASSERT_TRUE(input.Load());

    fs::path folder = (dir / c.target).parent_path();
    std::string targetName = (dir / c.target).filename().string();
    OutputFile output;
    ASSERT_TRUE(output.Open((dir / c.name).string()));
    EXPECT_EQ(ReadFileBytes(dir / c.target), c.exists ? old : Bytes{});
    std::vector<std::string> before = NamesStartingWith(folder, "");
    output.Begin();
    std::vector<std::string> added = OtherNames(folder, before);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_TRUE(IsTemporaryNameOf(added[0], targetName)) << added[0];
    Bytes expected = Pattern(1000, 9);
    ASSERT_TRUE(output.Write(expected.data(), expected.size()));
    ASSERT_TRUE(output.CopyFrom(input, 17, 250000));
    expected.insert(expected.end(), source.begin() + 17, source.begin() + 250017);
    EXPECT_EQ(ReadFileBytes(dir / c.target), c.exists ? old : Bytes{});
    ASSERT_TRUE(output.Commit());
    EXPECT_TRUE(ReadFileBytes(dir / c.target) == expected);
    EXPECT_EQ(OtherNames(folder, before), std::vector<std::string>{});
#if BONESPLICE_TESTS_FORK
    EXPECT_EQ(fs::is_symlink(dir / c.name), c.posixOnly);
    struct stat status;
    ASSERT_EQ(stat((dir / c.target).string().c_str(), &status), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status.st_mode & 07777u, c.exists ? 0640u : 0666u & ~mask);
#endif
  }
}

// Where no temporary can be made beside the output, it is written in place; a regular file
// written in place is emptied when the write is abandoned, by Abandon or by the destructor.
// Otherwise an abandoned write removes its temporary and the output keeps what it held.
TEST(OutputFile, AnAbandonedWriteLeavesNoTemporaryAndNoPartialOutput) {
  const Bytes old = Pattern(5000, 1);
  const Bytes written = Pattern(300000, 2);  // more than the output holds back before writing
  for (bool inPlace : {false, true}) {
    for (bool byDestructor : {false, true}) {
      SCOPED_TRACE(std::string(inPlace ? "in place" : "beside") +
                   (byDestructor ? ", destructor" : ", Abandon"));
      ScratchDir dir;
      std::string name = inPlace ? kLongName : "out.gla";
      WriteFileBytes(dir / name, old);
      {
        OutputFile output;
        ASSERT_TRUE(output.Open((dir / name).string()));
        output.Begin();
        EXPECT_EQ(OtherNames(dir.path(), {name}).size(), inPlace ? 0u : 1u);
        ASSERT_TRUE(output.Write(written.data(), written.size()));
        if (inPlace) {
          EXPECT_GT(fs::file_size(dir / name), old.size());
        }
        if (!byDestructor) output.Abandon();
      }
      EXPECT_EQ(ReadFileBytes(dir / name), inPlace ? Bytes{} : old);
      EXPECT_EQ(OtherNames(dir.path(), {name}), std::vector<std::string>{});
    }
  }
  // In place, a commit leaves the bytes written.
  ScratchDir dir;
  OutputFile output;
  ASSERT_TRUE(output.Open((dir / kLongName).string()));
  output.Begin();
  ASSERT_TRUE(output.Write(written.data(), 1000));
  ASSERT_TRUE(output.Commit());
  EXPECT_EQ(ReadFileBytes(dir / kLongName), Bytes(written.begin(), written.begin() + 1000));
}

// An output that is not a regular file is written in place and left as it is; a write it refuses
// fails the commit. (A FIFO of the test's own: no test writes to a device of the system.)
TEST(OutputFile, AnOutputThatIsNotAFileIsWrittenInPlace) {
  const Bytes written = Pattern(1000, 6);  // fits a pipe's buffer: no reader need wait for it
#if BONESPLICE_TESTS_FORK
  for (bool readerGone : {false, true}) {
    SCOPED_TRACE(readerGone ? "reader gone" : "read");
    ScratchDir dir;
    fs::path pipe = dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    OutputFile output;
    ASSERT_TRUE(output.Open(pipe.string()));
    ASSERT_TRUE(output.Truncate());
    output.Begin();
    EXPECT_EQ(OtherNames(dir.path(), {"pipe"}), std::vector<std::string>{});
    if (readerGone) close(reader);
    auto previous = signal(SIGPIPE, SIG_IGN);
    ASSERT_TRUE(output.Write(written.data(), written.size()));  // held back until Commit
    EXPECT_EQ(output.Commit(), !readerGone);
    signal(SIGPIPE, previous);
    if (readerGone) continue;
    Bytes received(written.size() + 1);
    EXPECT_EQ(read(reader, received.data(), received.size()), ssize_t{1000});
    received.pop_back();
    EXPECT_EQ(received, written);
    close(reader);
  }
#else
  OutputFile null;
  ASSERT_TRUE(null.Open("NUL"));
  ASSERT_TRUE(null.Truncate());
  null.Begin();
  ASSERT_TRUE(null.Write(written.data(), written.size()));
  EXPECT_TRUE(null.Commit());
#endif
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
