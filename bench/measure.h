// Timing and memory measurement for the benchmark: child processes measured by wall time and
// maximum resident set, medians and file helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bonesplice::bench {

struct ProcessRun {
  bool exited = false;     // the process ran and exited normally (not by a signal)
  bool timedOut = false;   // it was killed for running longer than its time limit
  int status = -1;         // its exit status when it exited
  double seconds = 0;      // wall time from just before the fork to the end of the wait
  double cpuSeconds = 0;   // user and system time of the process
  uint64_t peakBytes = 0;  // its maximum resident set size
};

struct RunOptions {
  std::string stdoutPath;     // a file (in dir) for standard output; empty means /dev/null
  double timeoutSeconds = 0;  // kill the process after this long; 0 means no limit
};

// Runs program with args in folder dir, feeding input and then end-of-file on standard input;
// standard error goes to /dev/null. The child is forked from this process, so its resident set
// starts at this process's current one: keep this process small.
ProcessRun RunTimed(const std::string& program, const std::vector<std::string>& args,
                    const std::string& dir, const std::string& input,
                    const RunOptions& options = {});

// Runs work in a forked child and returns the text it produced, or nullopt when the child did
// not finish normally. Big in-process work (generating inputs, the linear-scan rule) runs this
// way so that it never raises the resident set that later measured children start from.
std::optional<std::string> RunInChild(const std::function<std::string()>& work);

double Median(std::vector<double> values);
uint64_t Max(const std::vector<uint64_t>& values);

// Seconds of a monotonic clock, for intervals.
double Now();

// Writes one line of progress to standard error.
void Note(const std::string& text);

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);
// Writes bytes to path and flushes them to the disk, so that later runs do not pay for the
// write-back of the inputs.
bool WriteFileSynced(const std::string& path, const std::vector<uint8_t>& bytes);
std::optional<uint64_t> FileSize(const std::string& path);

}  // namespace bonesplice::bench
