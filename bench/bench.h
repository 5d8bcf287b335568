// The benchmark's cases, its one way of running a program, its measurements and its report.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace bonesplice::bench {

inline constexpr uint32_t kBones = 70;

// A base and a donor of the same size. The donor takes the base's bone names in a shuffled
// order, so every donor frame is reordered; a third of its entries copy base entries and a
// quarter of each file's entries repeat an earlier entry of the same file.
struct CasePlan {
  std::string id;
  uint64_t seed = 1;
  uint32_t frames = 0;   // in each file
  uint32_t entries = 0;  // in each file
  // Both files name their entries in first-use order (glagen's firstUseOrder), not at random.
  bool firstUse = false;
  // Donor frames 1 onwards name every donor entry, so the plain merge appends all of them.
  bool everyDonorEntryUsed = false;
  // "-o" only, on distinct base entries that share one hash under the entries' unkeyed
  // function (colliding) or are random.
  bool flood = false;
  bool colliding = false;
};

// Every case, smallest first; the one with that id or nullptr.
const std::vector<CasePlan>& AllCases();
const CasePlan* FindCase(const std::string& id);

// Writes the case's base.gla and donor.gla into dir; an error text, empty on success. Takes
// several times the files' size in memory, so the benchmark runs it in a child process.
std::string GenerateInputs(const CasePlan& plan, const std::string& dir);

struct Command {
  std::vector<std::string> args;  // the program (a path, or a name looked up in PATH) first
  std::string dir = ".";          // the child's working folder
  std::string input{};            // its standard input, then end-of-file
  std::string outputPath{};       // its standard output, from dir; empty: /dev/null
  std::string threads{};          // BONESPLICE_THREADS for it; empty: as this process has it
  bool showErrors = false;        // its standard error goes to ours rather than /dev/null
  int cpuLimitSeconds = 0;        // it is stopped after this much processor time; 0: never
};

struct RunResult {
  bool exited = false;     // it exited rather than being ended by a signal
  int status = -1;         // its exit status when it exited
  double seconds = 0;      // wall time from the fork to the end of wait4
  double cpuSeconds = 0;   // user + system time
  uint64_t peakBytes = 0;  // its maximum resident set (ru_maxrss)
};

// Forks, executes command in the child and waits for it. A child's resident set starts at
// this process's, so the benchmark keeps its own process small.
RunResult RunCommand(const Command& command);

// Seconds of a monotonic clock; a line of progress on standard error, formatted by printf.
double Now();
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct Settings {
  std::string self;                // this program, run in its floor and generating modes
  std::string program;             // the bonesplice measured
  std::string before;              // an earlier build measured beside it; empty: none
  int reps = 5;                    // timed rounds; each time is their median
  int allThreads = 1;              // the cores online: BONESPLICE_THREADS of "all threads"
  std::vector<std::string> cases;  // ids to run; empty: all
  std::string temp;                // where the temporary folder is made
  std::string plotPath;            // empty: no plot
};

// Cases whose plain output is below kShortRunBytes run kShortRunFactor times the rounds: short
// runs are the ones other work disturbs most. The earlier build runs in the first kBeforeReps
// rounds only, each run stopped after kBeforeCpuSeconds.
inline constexpr uint64_t kShortRunBytes = uint64_t{64} << 20;
inline constexpr int kShortRunFactor = 3;
inline constexpr int kBeforeReps = 3;
inline constexpr int kBeforeCpuSeconds = 60;

enum Build { kNow, kBefore };
enum Mode { kPlain, kOpt };
enum Threads { kOneThread, kAllThreads };

// The timed runs of one kind; Measured when there are some and none was stopped.
struct Figure {
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;  // user + system
  uint64_t peakBytes = 0;          // the largest maximum resident set
  bool stopped = false;            // a run reached its processor time limit
};

inline bool Measured(const Figure& figure) {
  return !figure.seconds.empty() && !figure.stopped;
}

struct CaseResult {
  CasePlan plan;
  uint64_t baseBytes = 0;
  uint64_t donorBytes = 0;
  uint64_t outputBytes[2] = {};    // by Mode
  uint64_t outputEntries[2] = {};  // by Mode
  int compared[2] = {};            // outputs compared with the first of their mode
  bool sameBytes[2] = {true, true};
  Figure floor;
  Figure cat;
  Figure merges[2][2][2];  // [Build][Mode][Threads]
};

// A failed run: main reports it after removing the temporary folder.
struct BenchFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Generates plan's inputs in dir (made and removed by the caller) and measures the merges,
// the streaming floor and cat on them. Throws BenchFailure.
CaseResult RunCase(const Settings& settings, const CasePlan& plan, const std::string& dir);

// The median of values, 0 when there are none; value with that many decimals; nanoseconds per
// entry of the two inputs (base entries + donor entries).
double Median(std::vector<double> values);
std::string Fixed(double value, int decimals);
double NsPerEntry(double seconds, const CasePlan& plan);

// The machine, the cases' inputs and outputs, times, peaks, before and after, and the targets,
// as Markdown on standard output.
void PrintReport(const Settings& settings, const std::vector<CaseResult>& results);

// Writes the SVG plot of time per entry against the entry count of the random-order cases:
// the streaming floor, both modes with all threads, the earlier build's modes dashed. False
// when no case is large enough or the file cannot be written.
bool WritePlot(const std::vector<CaseResult>& results, const std::string& path);

}  // namespace bonesplice::bench
