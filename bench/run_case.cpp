#include "run_case.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "floor.h"
#include "format/layout.h"
#include "measure.h"
#include "scan.h"
#include "text.h"

namespace bonesplice::bench {
namespace {

[[noreturn]] void Fail(const std::string& text) {
  throw BenchFailure{text};
}

// The repetitions of one kind of run.
class Samples {
 public:
  void Add(const ProcessRun& run) {
    times_.push_back(run.seconds);
    cpu_.push_back(run.cpuSeconds);
    peaks_.push_back(run.peakBytes);
    timedOut_ = timedOut_ || run.timedOut;
  }
  Figure Result() const {
    Figure figure;
    figure.measured = !times_.empty();
    figure.timedOut = timedOut_;
    figure.seconds = Median(times_);
    figure.cpuSeconds = Median(cpu_);
    figure.peakBytes = Max(peaks_);
    return figure;
  }

 private:
  std::vector<double> times_;
  std::vector<double> cpu_;
  std::vector<uint64_t> peaks_;
  bool timedOut_ = false;
};

// The layout that a file's header describes; its blocks are not checked.
std::optional<FileLayout> HeaderLayout(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) return std::nullopt;
  std::array<uint8_t, kHeaderSize> bytes{};
  size_t got = std::fread(bytes.data(), 1, bytes.size(), stream);
  std::fclose(stream);
  FileLayout layout = DecodeLayout({bytes.data(), got});
  if (!layout.wholeHeader) return std::nullopt;
  return layout;
}

// One merge by program in dir, writing outputName; fails the benchmark unless it finished the
// merge (status 1) or was stopped at timeoutSeconds.
ProcessRun Merge(const std::string& program, const std::string& dir, bool optimize,
                 const std::string& outputName, double timeoutSeconds = 0) {
  std::vector<std::string> args = {"base.gla", "donor.gla"};
  if (optimize) args.push_back("-o");
  RunOptions options;
  options.timeoutSeconds = timeoutSeconds;
  ProcessRun run = RunTimed(program, args, dir, outputName + "\n", options);
  if (!run.timedOut && (!run.exited || run.status != 1)) {
    Fail(program + " did not finish the merge in " + dir + (optimize ? " with -o" : ""));
  }
  return run;
}

// A timed merge whose output is removed at once.
ProcessRun TimedMerge(const std::string& program, const std::string& dir, bool optimize) {
  ProcessRun run = Merge(program, dir, optimize, "out.gla");
  std::remove((dir + "/out.gla").c_str());
  return run;
}

ProcessRun Floor(const std::string& self, const std::string& dir, FloorKind kind,
                 uint64_t outputBytes) {
  ProcessRun run = RunTimed(self,
                            {kFloorMode, FloorWord(kind), "base.gla", "donor.gla", "floor.gla",
                             std::to_string(outputBytes)},
                            dir, "");
  if (!run.exited || run.status != 0) Fail("the I/O floor run failed in " + dir);
  std::remove((dir + "/floor.gla").c_str());
  return run;
}

ProcessRun Cat(const std::string& dir) {
  RunOptions options;
  options.stdoutPath = "cat.gla";
  ProcessRun run = RunTimed("/bin/cat", {"base.gla", "donor.gla"}, dir, "", options);
  if (!run.exited || run.status != 0) Fail("cat failed in " + dir);
  std::remove((dir + "/cat.gla").c_str());
  return run;
}

// True when both files hold the same bytes; read in chunks, so that this process stays small.
bool SameBytes(const std::string& a, const std::string& b) {
  std::FILE* first = std::fopen(a.c_str(), "rb");
  std::FILE* second = std::fopen(b.c_str(), "rb");
  bool same = first != nullptr && second != nullptr;
  std::vector<uint8_t> x(size_t{1} << 20);
  std::vector<uint8_t> y(x.size());
  while (same) {
    size_t got = std::fread(x.data(), 1, x.size(), first);
    same = std::fread(y.data(), 1, y.size(), second) == got &&
           std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(got), y.begin());
    if (got < x.size()) break;
  }
  for (std::FILE* stream : {first, second}) {
    if (stream != nullptr) std::fclose(stream);
  }
  return same;
}

// The untimed first round: warms the page cache, keeps the outputs as plain-check.gla and
// opt-check.gla and records their sizes; checks the earlier build's outputs against them.
void WarmUp(const Settings& settings, const std::string& dir, CaseResult& result) {
  Merge(settings.program, dir, false, "plain-check.gla");
  Merge(settings.program, dir, true, "opt-check.gla");
  std::optional<FileLayout> plain = HeaderLayout(dir + "/plain-check.gla");
  std::optional<FileLayout> opt = HeaderLayout(dir + "/opt-check.gla");
  if (!plain || !opt) Fail("cannot read the outputs in " + dir);
  result.plainOutputBytes = FileSize(dir + "/plain-check.gla").value_or(0);
  result.optOutputBytes = FileSize(dir + "/opt-check.gla").value_or(0);
  result.plainOutputEntries = plain->entryCount;
  result.optOutputEntries = opt->entryCount;
  if (!settings.before.empty() && result.plan.kind != CaseKind::kFlood) {
    Merge(settings.before, dir, false, "before-check.gla");
    result.before.sameBytes = SameBytes(dir + "/plain-check.gla", dir + "/before-check.gla");
    Merge(settings.before, dir, true, "before-check.gla");
    result.before.sameBytes =
        result.before.sameBytes && SameBytes(dir + "/opt-check.gla", dir + "/before-check.gla");
    std::remove((dir + "/before-check.gla").c_str());
  }
}

}  // namespace

int RepsFor(const Settings& settings, uint64_t plainOutputBytes) {
  return plainOutputBytes < kShortRunBytes ? kShortRunFactor * settings.reps : settings.reps;
}

CaseResult RunCase(const Settings& settings, const std::string& self, const std::string& root,
                   const CasePlan& plan) {
  CaseResult result;
  result.plan = plan;
  const std::string dir = root + "/" + CaseId(plan);
  std::filesystem::create_directories(dir);
  const std::string base = dir + "/base.gla";
  const std::string donor = dir + "/donor.gla";

  double start = Now();
  std::optional<std::string> generated =
      RunInChild([&]() { return GenerateInputs(plan, base, donor); });
  if (!generated) Fail("generating the inputs of " + plan.name + " failed");
  if (!generated->empty()) Fail(*generated);
  Note("  generated in " + Fixed(Now() - start, 1) + " s");
  result.baseBytes = FileSize(base).value_or(0);
  result.donorBytes = FileSize(donor).value_or(0);

  WarmUp(settings, dir, result);
  // Only the scan and flood cases compare the outputs again later; the rest free the disk.
  if (plan.kind == CaseKind::kSize || plan.kind == CaseKind::kGrowth) {
    std::remove((dir + "/plain-check.gla").c_str());
    std::remove((dir + "/opt-check.gla").c_str());
  }
  const bool flood = plan.kind == CaseKind::kFlood;
  const bool before = !settings.before.empty();
  const uint64_t outputBytes = result.plainOutputBytes;
  if (!flood) {
    Floor(self, dir, FloorKind::kStreaming, outputBytes);
    Floor(self, dir, FloorKind::kInMemory, outputBytes);
  }

  // The runs take turns, so that a slow spell of the machine touches each alike.
  Samples streaming, memory, cat, plain, opt, beforePlain, beforeOpt;
  const int reps = RepsFor(settings, outputBytes);
  for (int r = 0; r < reps; ++r) {
    // Each run starts with no dirty pages left over from earlier writes, whose write-back
    // would otherwise slow whichever run comes later in the round.
    if (!flood) {
      sync();
      streaming.Add(Floor(self, dir, FloorKind::kStreaming, outputBytes));
      sync();
      memory.Add(Floor(self, dir, FloorKind::kInMemory, outputBytes));
      sync();
      cat.Add(Cat(dir));
      sync();
      plain.Add(TimedMerge(settings.program, dir, false));
    }
    sync();
    opt.Add(TimedMerge(settings.program, dir, true));
    if (before && !flood && r < kBeforeReps) {
      sync();
      beforePlain.Add(TimedMerge(settings.before, dir, false));
      sync();
      beforeOpt.Add(TimedMerge(settings.before, dir, true));
    }
  }
  if (before && flood) {
    // Once only, with a time limit: an index without a key may take minutes here.
    sync();
    ProcessRun run =
        Merge(settings.before, dir, true, "before-check.gla", settings.beforeFloodLimit);
    beforeOpt.Add(run);
    result.before.sameBytes =
        run.timedOut || SameBytes(dir + "/opt-check.gla", dir + "/before-check.gla");
    std::remove((dir + "/before-check.gla").c_str());
  }
  result.streamingFloor = streaming.Result();
  result.memoryFloor = memory.Result();
  result.cat = cat.Result();
  result.now.plain = plain.Result();
  result.now.opt = opt.Result();
  result.before.plain = beforePlain.Result();
  result.before.opt = beforeOpt.Result();

  if (plan.kind == CaseKind::kReference) {
    ScanFigures scan = MeasureScan(dir, std::min(settings.reps, kMaxScanReps), settings.reps);
    result.scanSeconds = scan.scanSeconds;
    result.hashedInProcessSeconds = scan.hashedSeconds;
    result.scanSameBytes = scan.sameBytes;
  }
  std::filesystem::remove_all(dir);
  return result;
}

}  // namespace bonesplice::bench
