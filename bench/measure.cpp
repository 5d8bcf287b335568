#include "measure.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>

namespace bonesplice::bench {
namespace {

// Writes all of text to fd, retrying short writes.
bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void Note(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

ProcessRun RunTimed(const std::string& program, const std::vector<std::string>& args,
                    const std::string& dir, const std::string& input, const RunOptions& options) {
  ProcessRun run;
  std::vector<std::string> words;
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int in[2];
  if (pipe(in) != 0) return run;
  std::fflush(nullptr);
  double start = Now();
  pid_t pid = fork();
  if (pid == 0) {
    close(in[1]);
    int devNull = open("/dev/null", O_WRONLY);
    if (devNull < 0 || chdir(dir.c_str()) != 0) _exit(127);
    int out = options.stdoutPath.empty()
                  ? devNull
                  : open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) _exit(127);
    dup2(in[0], 0);
    dup2(out, 1);
    dup2(devNull, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  if (pid < 0) {
    close(in[1]);
    return run;
  }
  // The name is short, so the pipe takes it whole before the program reads it.
  WriteAll(in[1], input);
  close(in[1]);
  int status = 0;
  rusage usage{};
  pid_t waited;
  if (options.timeoutSeconds > 0) {
    // Polled, so that only runs with a limit pay for the checks.
    const timespec pause{0, 1000000};
    do {
      waited = wait4(pid, &status, WNOHANG, &usage);
      if (waited == 0 && Now() - start > options.timeoutSeconds && !run.timedOut) {
        kill(pid, SIGKILL);
        run.timedOut = true;
      }
      if (waited == 0) nanosleep(&pause, nullptr);
    } while (waited == 0 || (waited < 0 && errno == EINTR));
  } else {
    do {
      waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
  }
  run.seconds = Now() - start;
  if (waited != pid) return run;
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : -1;
  run.peakBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // reported in KiB
  for (const timeval& t : {usage.ru_utime, usage.ru_stime}) {
    run.cpuSeconds += static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  }
  return run;
}

std::optional<std::string> RunInChild(const std::function<std::string()>& work) {
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    std::string text = work();
    std::fflush(nullptr);
    _exit(WriteAll(out[1], text) ? 0 : 1);
  }
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return std::nullopt;
  }
  std::string text = ReadAll(out[0]);
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

uint64_t Max(const std::vector<uint64_t>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::optional<uint64_t> size = FileSize(path);
  if (!size) return std::nullopt;
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(*size));
  bool ok = bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  std::fclose(stream);
  if (!ok) return std::nullopt;
  return bytes;
}

bool WriteFileSynced(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  if (stream == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  ok = std::fflush(stream) == 0 && ok;
  ok = fsync(fileno(stream)) == 0 && ok;
  return std::fclose(stream) == 0 && ok;
}

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

}  // namespace bonesplice::bench
