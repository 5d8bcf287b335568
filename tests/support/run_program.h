// Runs the real bonesplice program in a scratch folder, the way a user's script does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
  int status = -1;        // exit status; 128 + signal number when the program was killed
  bool signaled = false;  // the program died of a signal (a crash)
  std::string output;     // everything it wrote to standard output
};

// The program under test: BONESPLICE_TEST_PROGRAM from the environment when set (made absolute
// against the starting folder), else the program of this build.
const std::string& ProgramPath();

// What starts the program: BONESPLICE_TEST_RUNNER from the environment (one program, looked up
// on PATH, such as "wine"), or empty to start it directly.
const std::string& ProgramRunner();

// True when the program under test is a Windows program (its name ends in ".exe") or this test
// binary is itself built for Windows. Its console text and text files then have CRLF line ends.
bool RunsWindowsProgram();

// text with each CRLF read as LF when RunsWindowsProgram(); unchanged otherwise, so that the
// POSIX build is compared byte for byte.
std::string NormalizedText(std::string text);

// The arguments that merge donor.gla into base.gla, with "-o" when optimize is set.
std::vector<std::string> MergeArguments(bool optimize);

// Runs the program under test (through its runner, if any) with args in dir, feeding input on
// standard input.
RunResult RunBonesplice(const std::filesystem::path& dir, const std::vector<std::string>& args,
                        const std::string& input = "");

// Runs any program (path) with args in dir, feeding input on standard input. A program without
// a slash in its name is looked up on PATH. The output is NormalizedText.
RunResult RunProcess(const std::string& program, const std::filesystem::path& dir,
                     const std::vector<std::string>& args, const std::string& input = "");

// For the helpers that start programs, in POSIX builds. In a child just forked: makes input its
// standard input (or closes standard input when input is -1) and output its standard output,
// enters dir and runs argv, built before the fork and ended by nullptr (argv[0] looked up on
// PATH when it has no slash), with SIGPIPE as the system has it, not as this test process set
// it. Never returns.
[[noreturn]] void ExecInChild(int input, int output, const std::filesystem::path& dir,
                              const std::vector<char*>& argv);
// What a program that printed output and ended with this waitpid status did.
RunResult ResultOf(int waitStatus, std::string output);

// A fresh folder under the system's temporary folder, removed with its content at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// The content of a text file the program wrote, such as bone.log, as NormalizedText.
std::string ReadFileText(const std::filesystem::path& path);

// The program's banner, as every run prints it first.
std::string Banner();

}  // namespace testing_support
