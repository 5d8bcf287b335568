#include "run_program.h"

// BONESPLICE_TESTS_FORK: the tests start programs with fork and exec (every build but the
// Windows one, whose unit tests never start a program).
#if BONESPLICE_TESTS_FORK
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "app/messages.h"

namespace testing_support {

const std::string& ProgramPath() {
  static const std::string path = [] {
    const char* chosen = std::getenv("BONESPLICE_TEST_PROGRAM");
    if (chosen == nullptr || *chosen == '\0') return std::string(BONESPLICE_PROGRAM);
    return std::filesystem::absolute(chosen).string();
  }();
  return path;
}

const std::string& ProgramRunner() {
  static const std::string runner = [] {
    const char* chosen = std::getenv("BONESPLICE_TEST_RUNNER");
    return std::string(chosen == nullptr ? "" : chosen);
  }();
  return runner;
}

bool RunsWindowsProgram() {
#if BONESPLICE_TESTS_CRLF_TEXT
  return true;
#else
  const std::string& path = ProgramPath();
  std::string suffix = path.size() < 4 ? path : path.substr(path.size() - 4);
  for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return suffix == ".exe";
#endif
}

std::string NormalizedText(std::string text) {
  if (!RunsWindowsProgram()) return text;
  size_t kept = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    text[kept++] = text[i];
  }
  text.resize(kept);
  return text;
}

#if !BONESPLICE_TESTS_FORK
RunResult RunProcess(const std::string& program, const std::filesystem::path&,
                     const std::vector<std::string>&, const std::string&) {
  throw std::runtime_error("this test build cannot start programs such as " + program);
}
#else
void ExecInChild(int input, int output, const std::filesystem::path& dir,
                 const std::vector<char*>& argv) {
  signal(SIGPIPE, SIG_DFL);
  if (input < 0) {
    close(STDIN_FILENO);
  } else {
    dup2(input, STDIN_FILENO);
    close(input);
  }
  dup2(output, STDOUT_FILENO);
  close(output);
  if (chdir(dir.c_str()) != 0) _exit(127);
  execvp(argv[0], argv.data());
  _exit(127);
}

RunResult ResultOf(int waitStatus, std::string output) {
  RunResult result;
  result.output = std::move(output);
  if (WIFSIGNALED(waitStatus)) {
    result.signaled = true;
    result.status = 128 + WTERMSIG(waitStatus);
  } else {
    result.status = WEXITSTATUS(waitStatus);
  }
  return result;
}

RunResult RunProcess(const std::string& program, const std::filesystem::path& dir,
                     const std::vector<std::string>& args, const std::string& input) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(in[1]), close(out[0]);
    ExecInChild(in[0], out[1], dir, argv);
  }
  close(in[0]);
  close(out[1]);
  // The program may stop reading before all input is written; ignore the broken pipe.
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  while (written < input.size()) {
    ssize_t n = write(in[1], input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  close(in[1]);
  std::string output;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ResultOf(status, NormalizedText(std::move(output)));
}
#endif

std::vector<std::string> MergeArguments(bool optimize) {
  std::vector<std::string> args = {"base.gla", "donor.gla"};
  if (optimize) args.push_back("-o");
  return args;
}

RunResult RunBonesplice(const std::filesystem::path& dir, const std::vector<std::string>& args,
                        const std::string& input) {
  if (ProgramRunner().empty()) return RunProcess(ProgramPath(), dir, args, input);
  std::vector<std::string> runnerArgs = {ProgramPath()};
  runnerArgs.insert(runnerArgs.end(), args.begin(), args.end());
  return RunProcess(ProgramRunner(), dir, runnerArgs, input);
}

// create_directory fails on a name that exists, so a folder it makes is this one's alone.
ScratchDir::ScratchDir() {
  std::random_device seed;
  std::mt19937_64 random(uint64_t{seed()} << 32 | seed());
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = temp / ("bonesplice-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a scratch folder in " + temp.string());
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  return NormalizedText(std::string(bytes.begin(), bytes.end()));
}

std::string Banner() {
  return bonesplice::messages::kBanner;
}

}  // namespace testing_support
