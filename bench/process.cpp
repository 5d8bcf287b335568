#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "bench.h"

namespace bonesplice::bench {

RunResult RunCommand(const Command& command) {
  RunResult run;
  std::vector<std::string> words = command.args;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The input is a file name, which the pipe holds whole: written before the child starts, it
  // never meets a closed pipe.
  int input[2];
  if (words.empty() || pipe(input) != 0) return run;
  const bool written = write(input[1], command.input.data(), command.input.size()) ==
                       static_cast<ssize_t>(command.input.size());
  close(input[1]);
  std::fflush(nullptr);
  const double start = Now();
  const pid_t pid = written ? fork() : -1;
  if (pid == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull < 0 || chdir(command.dir.c_str()) != 0) _exit(127);
    const int out = command.outputPath.empty()
                        ? devNull
                        : open(command.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(input[0], 0) < 0 || dup2(out, 1) < 0) _exit(127);
    if (!command.showErrors && dup2(devNull, 2) < 0) _exit(127);
    if (!command.threads.empty()) setenv("BONESPLICE_THREADS", command.threads.c_str(), 1);
    const rlim_t limit = static_cast<rlim_t>(command.cpuLimitSeconds);
    const rlimit cpu{limit, limit + 1};  // a signal at the first limit, a kill at the second
    if (limit > 0 && setrlimit(RLIMIT_CPU, &cpu) != 0) _exit(127);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(input[0]);
  if (pid < 0) return run;
  int status = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  run.seconds = Now() - start;
  if (waited != pid) return run;
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : -1;
  for (const timeval& t : {usage.ru_utime, usage.ru_stime}) {
    run.cpuSeconds += static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  }
  run.peakBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // reported in KiB
  return run;
}

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void Note(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

}  // namespace bonesplice::bench
