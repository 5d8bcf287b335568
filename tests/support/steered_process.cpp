#include "steered_process.h"

#if BONESPLICE_TESTS_FORK
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testing_support {

std::string AnotherUser() {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) return "";
  return "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
}

Process::Process(const std::filesystem::path& dir, const std::vector<std::string>& args,
                 const ProcessOptions& options) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
  if (options.closeOutputEarly) {
    close(out[0]);
    out[0] = -1;
  }
  std::vector<std::string> words = {
      "/bin/sh", "-c", options.shellPrefix + "\nexec " + options.launcher + " \"$0\" \"$@\"",
      ProgramPath()};
  if (!ProgramRunner().empty()) words.insert(words.begin() + 3, ProgramRunner());
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(in[1]);
    if (out[0] >= 0) close(out[0]);
    if (options.closeInput) close(in[0]);
    ExecInChild(options.closeInput ? -1 : in[0], out[1], dir, argv);
  }
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  output_ = out[0];
  signal(SIGPIPE, SIG_IGN);
  reader_ = std::thread([this] { ReadOutput(); });
}

void Process::ReadOutput() {
  char buffer[4096];
  for (;;) {
    ssize_t n = output_ < 0 ? 0 : read(output_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      ended_ = true;
      changed_.notify_all();
      return;
    }
    text_.append(buffer, static_cast<size_t>(n));
    changed_.notify_all();
  }
}

Process::~Process() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Finish();
  }
}

bool Process::WaitFor(const std::string& text) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return ended_ || text_.find(text) != std::string::npos; });
  return text_.find(text) != std::string::npos;
}

bool Process::Printed(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_.find(text) != std::string::npos;
}

void Process::Write(const std::string& input) {
  size_t written = 0;
  while (input_ >= 0 && written < input.size()) {
    ssize_t n = write(input_, input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
}

void Process::Signal(int number) {
  kill(pid_, number);
}

RunResult Process::Finish(std::chrono::milliseconds limit) {
  if (input_ >= 0) close(input_);
  input_ = -1;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + limit;
  pid_t ended;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (ended == 0) kill(pid_, SIGKILL);
  while (ended <= 0 && (ended = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reader_.joinable()) reader_.join();
  if (output_ >= 0) close(output_);
  output_ = -1;
  pid_ = -1;
  return ResultOf(status, text_);
}

}  // namespace testing_support
#endif

namespace testing_support {

std::vector<std::string> NamesStartingWith(const std::filesystem::path& dir,
                                           const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
  }
  return names;
}

}  // namespace testing_support
