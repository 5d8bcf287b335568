#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "bench.h"
#include "format/header.h"

namespace bonesplice::bench {
namespace {

uint64_t FileSize(const std::string& path) {
  std::error_code error;
  uint64_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

void Add(Figure& figure, const RunResult& run) {
  figure.seconds.push_back(run.seconds);
  figure.cpuSeconds.push_back(run.cpuSeconds);
  figure.peakBytes = std::max(figure.peakBytes, run.peakBytes);
}

// A helper run (generating, the floor, cat, cmp) that must exit with a status up to maxStatus.
RunResult Helper(const Command& command, int maxStatus = 0) {
  RunResult run = RunCommand(command);
  if (!run.exited || run.status > maxStatus) {
    throw BenchFailure(command.args[0] + " " + command.args[1] + " failed in " + command.dir);
  }
  return run;
}

// One merge of base.gla and donor.gla in dir into out.gla, as a user runs it. False when the
// earlier build was stopped at its time limit; any other failure fails the benchmark.
bool Merge(const Settings& settings, const std::string& dir, Build build, Mode mode,
           Threads threads, RunResult& run) {
  Command command{{build == kNow ? settings.program : settings.before, "base.gla", "donor.gla"},
                  dir,
                  "out.gla\n"};
  if (mode == kOpt) command.args.push_back("-o");
  command.threads = std::to_string(threads == kOneThread ? 1 : settings.allThreads);
  if (build == kBefore) command.cpuLimitSeconds = kBeforeCpuSeconds;
  run = RunCommand(command);
  if (run.exited && run.status == 1) return true;  // 1: a finished merge
  if (build == kBefore && !run.exited) return false;
  throw BenchFailure(command.args[0] + (mode == kOpt ? " -o" : "") +
                     " did not finish the merge in " + dir);
}

// The warm-up round's check of out.gla: the first output of a mode is kept as check.gla and
// gives the output's size; later ones must hold the same bytes.
void CheckOutput(CaseResult& result, const std::string& dir, Mode mode) {
  const std::string check = dir + "/check.gla";
  if (!std::filesystem::exists(check)) {
    std::filesystem::rename(dir + "/out.gla", check);
    // The output is the base with the donor's frames but the first and the appended entries.
    const uint64_t bytes = FileSize(check);
    const uint64_t frameBytes = uint64_t{result.plan.frames - 1} * kBones * kFrameFieldSize;
    const uint64_t appended = bytes - result.baseBytes - frameBytes;
    if (bytes < result.baseBytes + frameBytes || appended % kBoneDataEntrySize != 0) {
      throw BenchFailure("the output in " + dir +
                         " is not the base with donor frames and entries appended");
    }
    result.outputBytes[mode] = bytes;
    result.outputEntries[mode] = result.plan.entries + appended / kBoneDataEntrySize;
    return;
  }
  RunResult run = Helper({{"cmp", "-s", "check.gla", "out.gla"}, dir}, 1);
  ++result.compared[mode];
  result.sameBytes[mode] = result.sameBytes[mode] && run.status == 0;
}

// The streaming floor and cat, each after a sync; their outputs removed.
void RunFloors(const Settings& settings, const std::string& dir, CaseResult& result, bool timed) {
  const std::string bytes = std::to_string(result.outputBytes[kPlain]);
  sync();
  RunResult floor =
      Helper({{settings.self, "--floor", "base.gla", "donor.gla", "floor.gla", bytes}, dir});
  std::remove((dir + "/floor.gla").c_str());
  sync();
  RunResult cat = Helper({{"cat", "base.gla", "donor.gla"}, dir, "", "cat.gla"});
  std::remove((dir + "/cat.gla").c_str());
  if (timed) {
    Add(result.floor, floor);
    Add(result.cat, cat);
  }
}

}  // namespace

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

CaseResult RunCase(const Settings& settings, const CasePlan& plan, const std::string& dir) {
  CaseResult result;
  result.plan = plan;
  const double start = Now();
  Helper({{settings.self, "--generate", plan.id, dir}, ".", "", "", "", /*showErrors=*/true});
  result.baseBytes = FileSize(dir + "/base.gla");
  result.donorBytes = FileSize(dir + "/donor.gla");
  Note("  generated in %.1f s", Now() - start);

  const std::vector<Mode> modes =
      plan.flood ? std::vector<Mode>{kOpt} : std::vector<Mode>{kPlain, kOpt};
  int rounds = settings.reps;
  // Round -1 is the untimed warm-up, which also checks the outputs.
  for (int round = -1; round < rounds; ++round) {
    for (Mode mode : modes) {
      for (Build build : {kNow, kBefore}) {
        if (build == kBefore && (settings.before.empty() || round >= kBeforeReps)) continue;
        for (Threads threads : {kOneThread, kAllThreads}) {
          Figure& figure = result.merges[build][mode][threads];
          if (figure.stopped) continue;
          sync();  // so that no run pays for the write-back of an earlier one's output
          RunResult run;
          figure.stopped = !Merge(settings, dir, build, mode, threads, run);
          if (round < 0 && !figure.stopped) CheckOutput(result, dir, mode);
          if (round >= 0 && !figure.stopped) Add(figure, run);
          std::remove((dir + "/out.gla").c_str());
        }
      }
      if (round < 0) std::remove((dir + "/check.gla").c_str());
    }
    if (round < 0 && result.outputBytes[kPlain] < kShortRunBytes) rounds *= kShortRunFactor;
    if (!plan.flood) RunFloors(settings, dir, result, round >= 0);
  }
  std::remove((dir + "/base.gla").c_str());
  std::remove((dir + "/donor.gla").c_str());
  return result;
}

}  // namespace bonesplice::bench
