// The program under test run the way the POSIX-only tests need it: with standard input or
// output closed, with input given only once a text has appeared, or ended by a signal. It is
// started through its runner, if any, whose process it becomes (wine does so).
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"

namespace testing_support {

struct ProcessOptions {
  bool closeInput = false;        // started with standard input closed
  bool closeOutputEarly = false;  // standard output a pipe whose reader is gone already
  std::string shellPrefix;        // shell commands run before the program, such as "ulimit -f 8"
  std::string launcher;           // a command the program is started through, such as setpriv
};

// The launcher that starts the program as a user other than this process's, when this process
// runs as root and can: setpriv to the unprivileged user 65534. Empty otherwise.
std::string AnotherUser();

class Process {
 public:
  Process(const std::filesystem::path& dir, const std::vector<std::string>& args,
          const ProcessOptions& options = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Waits until standard output holds text; false when the output ends first. The output is
  // read all the time, so that the program never waits for its console.
  bool WaitFor(const std::string& text);
  // True when standard output holds text already.
  bool Printed(const std::string& text);
  void Write(const std::string& input);
  void Signal(int signal);
  // Closes standard input, reads the rest of the output and waits for the end; a program still
  // running after limit is killed (SIGKILL), so that a hang fails the test rather than holding it.
  RunResult Finish(std::chrono::milliseconds limit = std::chrono::hours(1));

 private:
  void ReadOutput();

  int pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;    // guarded by mutex_
  bool ended_ = false;  // guarded by mutex_
};

// The names in dir that start with prefix.
std::vector<std::string> NamesStartingWith(const std::filesystem::path& dir,
                                           const std::string& prefix);

}  // namespace testing_support
