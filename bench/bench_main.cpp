// bonesplice_bench: generates input pairs in a temporary folder, runs the built bonesplice on
// them in both modes as a user does (output name on standard input, progress lines to
// /dev/null), times the I/O floor and the linear-scan rule beside it, and prints the figures
// and the targets as Markdown tables on standard output. Progress goes to standard error.
//
// Usage: bonesplice_bench [--program PATH] [--reps N] [--cases ID,ID,...] [--temp DIR]
//        bonesplice_bench --generate ID DIR
// Exit status: 0 measured (whether or not the targets are met), 1 a run failed, 2 bad usage.

#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cases.h"
#include "format/header.h"
#include "measure.h"
#include "merge/pipeline.h"
#include "reference_merge.h"

namespace bonesplice::bench {
namespace {

constexpr char kFloorMode[] = "--io-floor";
constexpr char kInMemoryWord[] = "memory";
constexpr char kStreamingWord[] = "stream";
constexpr double kMiB = 1024.0 * 1024.0;
constexpr int kMaxScanReps = 3;
// Cases whose plain output is smaller than this are measured kShortRunFactor times as often.
constexpr uint64_t kShortRunBytes = uint64_t{64} << 20;
constexpr int kShortRunFactor = 3;

struct Settings {
  std::string program = BONESPLICE_PROGRAM;
  int reps = 5;
  std::vector<std::string> only;  // case ids; empty means all
  std::string tempParent;
};

// What one case measured; times are medians in seconds, peaks the largest of the repetitions.
struct CaseResult {
  CasePlan plan;
  uint64_t baseBytes = 0;
  uint64_t donorBytes = 0;
  uint64_t donorBoneArrayBytes = 0;
  uint64_t plainOutputBytes = 0;
  uint64_t optOutputBytes = 0;
  uint64_t plainOutputEntries = 0;
  uint64_t optOutputEntries = 0;
  double floorSeconds = 0;   // in memory
  double streamSeconds = 0;  // streaming copy
  double plainSeconds = 0;
  double optSeconds = 0;
  double plainCpuSeconds = 0;
  double optCpuSeconds = 0;
  uint64_t floorPeak = 0;
  uint64_t plainPeak = 0;
  uint64_t optPeak = 0;
  double scanSeconds = 0;             // kReference: the linear-scan rule of "-o", in memory
  double hashedInProcessSeconds = 0;  // kReference: RunMerge with "-o" in this process
  bool scanSameBytes = false;
};

std::string CaseId(const std::string& name) {
  std::string id = name;
  std::replace(id.begin(), id.end(), ' ', '-');
  return id;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Count(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Ms(double seconds) {
  return Format(seconds < 0.1 ? "%.2f" : "%.0f", seconds * 1000);
}
std::string MiB(uint64_t bytes) {
  return Format("%.1f", static_cast<double>(bytes) / kMiB);
}
std::string Ratio(double value) {
  return Format("%.2f", value);
}

// The peak the targets allow a merge: 1.5 x (output + donor bone array) + 64 MiB.
double MemoryLimit(uint64_t outputBytes, uint64_t donorBoneArrayBytes) {
  return 1.5 * static_cast<double>(outputBytes + donorBoneArrayBytes) + 64 * kMiB;
}

std::optional<AnimHeader> ReadFileHeader(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) return std::nullopt;
  AnimHeader header;
  bool ok = ReadHeader(stream, header);
  std::fclose(stream);
  if (!ok) return std::nullopt;
  return header;
}

uint64_t EntriesOf(const AnimHeader& header) {
  return (uint64_t{header.eofOffset} - header.boneArrayOffset) / kBoneDataEntrySize;
}

void Note(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

// A run that failed ends the benchmark; Main reports it after removing the temporary folder.
struct BenchFailure {
  std::string text;
};

[[noreturn]] void Fail(const std::string& text) {
  throw BenchFailure{text};
}

// One measured merge, or the I/O floor; fails the benchmark when the run did not succeed.
ProcessRun Measure(const Settings& settings, const std::string& dir, bool optimize,
                   const std::string& outputName) {
  std::vector<std::string> args = {"base.gla", "donor.gla"};
  if (optimize) args.push_back("-o");
  ProcessRun run = RunTimed(settings.program, args, dir, outputName + "\n");
  // The program ends with status 1 after a finished merge.
  if (!run.exited || run.status != 1) {
    Fail("bonesplice did not finish the merge in " + dir + (optimize ? " with -o" : ""));
  }
  return run;
}

ProcessRun MeasureFloor(const std::string& self, const std::string& dir, FloorKind kind,
                        uint64_t outputBytes) {
  std::string kindWord = kind == FloorKind::kStreaming ? kStreamingWord : kInMemoryWord;
  ProcessRun run = RunTimed(
      self,
      {kFloorMode, kindWord, "base.gla", "donor.gla", "floor.gla", std::to_string(outputBytes)},
      dir, "");
  if (!run.exited || run.status != 0) Fail("the I/O floor run failed in " + dir);
  return run;
}

void Remove(const std::string& path) {
  std::remove(path.c_str());
}

// Runs the program's own merge with "-o" in this process on the files in dir, writing to
// /dev/null; its time, or nullopt when it failed.
std::optional<double> TimeHashedMerge(const std::string& dir) {
  std::FILE* base = std::fopen((dir + "/base.gla").c_str(), "rb");
  std::FILE* donor = std::fopen((dir + "/donor.gla").c_str(), "rb");
  std::FILE* output = std::fopen("/dev/null", "wb");
  std::optional<double> seconds;
  AnimHeader baseHeader;
  AnimHeader donorHeader;
  if (base != nullptr && donor != nullptr && output != nullptr && ReadHeader(base, baseHeader) &&
      ReadHeader(donor, donorHeader)) {
    MergeOptions options;
    options.optimize = true;
    double start = Now();
    MergeOutcome outcome = RunMerge(base, donor, output, baseHeader, donorHeader, options);
    if (outcome.error == MergeError::kNone) seconds = Now() - start;
  }
  for (std::FILE* stream : {base, donor, output}) {
    if (stream != nullptr) std::fclose(stream);
  }
  return seconds;
}

// Times the linear-scan rule of "-o" and the program's hashed merge side by side in a child
// process, both without a process start, and checks that both modes of the rule give the same
// bytes as the program's outputs kept in dir.
void MeasureScan(const std::string& dir, int reps, int hashedReps, CaseResult& result) {
  std::optional<std::string> text = RunInChild([&]() -> std::string {
    std::optional<std::vector<uint8_t>> base = ReadWholeFile(dir + "/base.gla");
    std::optional<std::vector<uint8_t>> donor = ReadWholeFile(dir + "/donor.gla");
    std::optional<std::vector<uint8_t>> plain = ReadWholeFile(dir + "/plain-check.gla");
    std::optional<std::vector<uint8_t>> opt = ReadWholeFile(dir + "/opt-check.gla");
    if (!base || !donor || !plain || !opt) return "";
    std::vector<double> times;
    bool same = reference::ReferenceMerge(*base, *donor, false) == *plain;
    for (int r = 0; r < reps; ++r) {
      double start = Now();
      std::vector<uint8_t> merged = reference::ReferenceMerge(*base, *donor, true);
      times.push_back(Now() - start);
      same = same && merged == *opt;
    }
    std::vector<double> hashedTimes;
    for (int r = 0; r < hashedReps; ++r) {
      std::optional<double> seconds = TimeHashedMerge(dir);
      if (!seconds) return "";
      hashedTimes.push_back(*seconds);
    }
    return Format("%.9f", Median(times)) + Format(" %.9f", Median(hashedTimes)) +
           (same ? " same" : " different");
  });
  if (!text || text->empty()) Fail("the linear-scan rule failed in " + dir);
  std::istringstream in(*text);
  std::string verdict;
  in >> result.scanSeconds >> result.hashedInProcessSeconds >> verdict;
  result.scanSameBytes = verdict == "same";
}

CaseResult RunCase(const Settings& settings, const std::string& self, const std::string& root,
                   const CasePlan& plan) {
  CaseResult result;
  result.plan = plan;
  std::string dir = root + "/" + CaseId(plan.name);
  std::filesystem::create_directories(dir);
  std::string base = dir + "/base.gla";
  std::string donor = dir + "/donor.gla";

  double start = Now();
  std::optional<std::string> generated =
      RunInChild([&]() { return GenerateInputs(plan, base, donor); });
  if (!generated) Fail("generating the inputs of " + plan.name + " failed");
  if (!generated->empty()) Fail(*generated);
  Note("  generated in " + Format("%.1f", Now() - start) + " s");

  result.baseBytes = FileSize(base).value_or(0);
  result.donorBytes = FileSize(donor).value_or(0);
  std::optional<AnimHeader> donorHeader = ReadFileHeader(donor);
  if (!donorHeader) Fail("cannot read " + donor);
  result.donorBoneArrayBytes = uint64_t{donorHeader->eofOffset} - donorHeader->boneArrayOffset;

  // A first untimed round warms the page cache and gives the output sizes.
  Measure(settings, dir, false, "plain-check.gla");
  Measure(settings, dir, true, "opt-check.gla");
  std::optional<AnimHeader> plainHeader = ReadFileHeader(dir + "/plain-check.gla");
  std::optional<AnimHeader> optHeader = ReadFileHeader(dir + "/opt-check.gla");
  if (!plainHeader || !optHeader) Fail("cannot read the outputs in " + dir);
  result.plainOutputBytes = FileSize(dir + "/plain-check.gla").value_or(0);
  result.optOutputBytes = FileSize(dir + "/opt-check.gla").value_or(0);
  result.plainOutputEntries = EntriesOf(*plainHeader);
  result.optOutputEntries = EntriesOf(*optHeader);
  if (plan.kind != CaseKind::kReference) {
    Remove(dir + "/plain-check.gla");
    Remove(dir + "/opt-check.gla");
  }
  MeasureFloor(self, dir, FloorKind::kInMemory, result.plainOutputBytes);
  MeasureFloor(self, dir, FloorKind::kStreaming, result.plainOutputBytes);
  Remove(dir + "/floor.gla");

  // The measurements take turns, so that a slow spell of the machine touches each alike.
  std::vector<double> floorTimes, streamTimes, plainTimes, optTimes, plainCpu, optCpu;
  std::vector<uint64_t> floorPeaks, plainPeaks, optPeaks;
  // Short runs are the ones another process on the machine disturbs most: they get more rounds.
  int reps =
      result.plainOutputBytes < kShortRunBytes ? kShortRunFactor * settings.reps : settings.reps;
  for (int r = 0; r < reps; ++r) {
    // Each round starts with no dirty pages left over from earlier writes.
    sync();
    ProcessRun floor = MeasureFloor(self, dir, FloorKind::kInMemory, result.plainOutputBytes);
    Remove(dir + "/floor.gla");
    ProcessRun stream = MeasureFloor(self, dir, FloorKind::kStreaming, result.plainOutputBytes);
    Remove(dir + "/floor.gla");
    streamTimes.push_back(stream.seconds);
    ProcessRun plain = Measure(settings, dir, false, "out.gla");
    Remove(dir + "/out.gla");
    ProcessRun opt = Measure(settings, dir, true, "out.gla");
    Remove(dir + "/out.gla");
    floorTimes.push_back(floor.seconds);
    plainTimes.push_back(plain.seconds);
    optTimes.push_back(opt.seconds);
    plainCpu.push_back(plain.cpuSeconds);
    optCpu.push_back(opt.cpuSeconds);
    floorPeaks.push_back(floor.peakBytes);
    plainPeaks.push_back(plain.peakBytes);
    optPeaks.push_back(opt.peakBytes);
  }
  result.floorSeconds = Median(floorTimes);
  result.streamSeconds = Median(streamTimes);
  result.plainSeconds = Median(plainTimes);
  result.optSeconds = Median(optTimes);
  result.plainCpuSeconds = Median(plainCpu);
  result.optCpuSeconds = Median(optCpu);
  result.floorPeak = Max(floorPeaks);
  result.plainPeak = Max(plainPeaks);
  result.optPeak = Max(optPeaks);

  if (plan.kind == CaseKind::kReference) {
    MeasureScan(dir, std::min(settings.reps, kMaxScanReps), settings.reps, result);
  }
  std::filesystem::remove_all(dir);
  return result;
}

// ---- The machine.

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 10, "model name") == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown processor";
}

uint64_t MemoryTotal() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  while (in >> key >> kib) {
    if (key == "MemTotal:") return kib * 1024;
    in.ignore(256, '\n');
  }
  return 0;
}

std::string FileSystemType(const std::string& path) {
  struct statfs info;
  if (statfs(path.c_str(), &info) != 0) return "unknown";
  switch (static_cast<uint64_t>(info.f_type)) {
    case 0xEF53:
      return "ext4";
    case 0x01021994:
      return "tmpfs";
    case 0x794C7630:
      return "overlayfs";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    default:
      return Format("type 0x%.0f", static_cast<double>(info.f_type));
  }
}

void PrintMachine(const Settings& settings, const std::string& root) {
  utsname name{};
  uname(&name);
  std::printf("## Machine\n\n");
  std::printf("- Processor: %s, %ld cores online\n", CpuModel().c_str(),
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("- Memory: %.1f GiB; system: %s %s\n",
              static_cast<double>(MemoryTotal()) / kMiB / 1024, name.sysname, name.release);
#ifdef __clang__
  const char* compiler = "clang++";
#else
  const char* compiler = "g++";
#endif
  std::printf("- Compiler: %s %s, build type %s\n", compiler, __VERSION__, BONESPLICE_BUILD_TYPE);
  std::printf("- Temporary files: %s (%s), warm in the page cache\n", root.c_str(),
              FileSystemType(root).c_str());
  std::printf(
      "- Each time is the median of %d runs (%d for cases whose output is below %d MiB), after "
      "one untimed warm-up run; the runs of floor, plain and -o take turns; each peak is the "
      "largest maximum resident set of those runs; the linear-scan rule is the median of %d\n\n",
      settings.reps, kShortRunFactor * settings.reps, static_cast<int>(kShortRunBytes >> 20),
      std::min(settings.reps, kMaxScanReps));
}

// ---- The report.

const CaseResult* Find(const std::vector<CaseResult>& results, const std::string& name) {
  for (const CaseResult& result : results) {
    if (result.plan.name == name) return &result;
  }
  return nullptr;
}

void PrintTimes(const std::vector<CaseResult>& results) {
  std::printf("## Merge times\n\n");
  std::printf(
      "| case | base entries | donor entries | donor frames | output entries plain / -o | "
      "output MiB plain / -o | streaming copy ms | I/O floor ms | plain ms | -o ms | "
      "plain / floor | -o / plain | plain / -o CPU ms |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const CaseResult& r : results) {
    std::printf(
        "| %s | %s | %s | %s | %s / %s | %s / %s | %s | %s | %s | %s | %s | %s | %s / %s |\n",
        r.plan.name.c_str(), Count(r.plan.baseEntries).c_str(), Count(r.plan.donorEntries).c_str(),
        Count(r.plan.donorFrames).c_str(), Count(r.plainOutputEntries).c_str(),
        Count(r.optOutputEntries).c_str(), MiB(r.plainOutputBytes).c_str(),
        MiB(r.optOutputBytes).c_str(), Ms(r.streamSeconds).c_str(), Ms(r.floorSeconds).c_str(),
        Ms(r.plainSeconds).c_str(), Ms(r.optSeconds).c_str(),
        Ratio(r.plainSeconds / r.floorSeconds).c_str(),
        Ratio(r.optSeconds / r.plainSeconds).c_str(), Ms(r.plainCpuSeconds).c_str(),
        Ms(r.optCpuSeconds).c_str());
  }
  std::printf(
      "\nTimes are wall time; the CPU column is user + system time of the same runs "
      "(well below the wall time only when the machine was busy with other work).\n\n");
}

void PrintMemory(const std::vector<CaseResult>& results) {
  std::printf("## Peak memory (maximum resident set)\n\n");
  std::printf("Limit: 1.5 x (output size + donor bone array size) + 64 MiB.\n\n");
  std::printf(
      "| case | donor bone array MiB | plain MiB | plain limit MiB | -o MiB | "
      "-o limit MiB | I/O floor MiB |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|\n");
  for (const CaseResult& r : results) {
    std::printf(
        "| %s | %s | %s | %s | %s | %s | %s |\n", r.plan.name.c_str(),
        MiB(r.donorBoneArrayBytes).c_str(), MiB(r.plainPeak).c_str(),
        Format("%.1f", MemoryLimit(r.plainOutputBytes, r.donorBoneArrayBytes) / kMiB).c_str(),
        MiB(r.optPeak).c_str(),
        Format("%.1f", MemoryLimit(r.optOutputBytes, r.donorBoneArrayBytes) / kMiB).c_str(),
        MiB(r.floorPeak).c_str());
  }
  std::printf("\n");
}

double NsPerEntry(double seconds, const CasePlan& plan) {
  return seconds * 1e9 / static_cast<double>(uint64_t{plan.baseEntries} + plan.donorEntries);
}

void PrintGrowth(const std::vector<CaseResult>& results) {
  std::printf("## Growth with the entry count\n\n");
  std::printf(
      "Time per entry of the two inputs (base entries + donor entries); frames grow with "
      "the entries.\n\n");
  std::printf(
      "| case | base + donor entries | plain ms | -o ms | plain ns per entry | "
      "-o ns per entry |\n");
  std::printf("|---|--:|--:|--:|--:|--:|\n");
  for (const CaseResult& r : results) {
    if (r.plan.kind == CaseKind::kReference || r.plan.name == "small") continue;
    std::printf("| %s | %s | %s | %s | %s | %s |\n", r.plan.name.c_str(),
                Count(uint64_t{r.plan.baseEntries} + r.plan.donorEntries).c_str(),
                Ms(r.plainSeconds).c_str(), Ms(r.optSeconds).c_str(),
                Format("%.1f", NsPerEntry(r.plainSeconds, r.plan)).c_str(),
                Format("%.1f", NsPerEntry(r.optSeconds, r.plan)).c_str());
  }
  std::printf("\n");
}

void PrintScan(const std::vector<CaseResult>& results) {
  std::printf("## Linear-scan rule against the hashed \"-o\"\n\n");
  std::printf(
      "Both in one process without a process start: the linear-scan rule on whole file "
      "bytes in memory, the program's merge (RunMerge with \"-o\") on the files, "
      "writing to /dev/null. The program as users run it (the -o column above) is shown "
      "too; at these sizes its time is mostly process start and file I/O.\n\n");
  std::printf(
      "| case | entries per file | linear scan ms | hashed -o in process ms | speed-up | "
      "hashed -o program ms | speed-up | same bytes |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|---|\n");
  for (const CaseResult& r : results) {
    if (r.plan.kind != CaseKind::kReference) continue;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", r.plan.name.c_str(),
                Count(r.plan.baseEntries).c_str(), Ms(r.scanSeconds).c_str(),
                Ms(r.hashedInProcessSeconds).c_str(),
                Format("%.0f", r.scanSeconds / r.hashedInProcessSeconds).c_str(),
                Ms(r.optSeconds).c_str(), Format("%.0f", r.scanSeconds / r.optSeconds).c_str(),
                r.scanSameBytes ? "yes" : "NO");
  }
  std::printf("\n");
}

void Target(const std::string& what, std::optional<double> measured, double limit, bool atMost) {
  std::string value = measured ? Ratio(*measured) : "not measured";
  std::string met = !measured                                            ? "-"
                    : (atMost ? *measured <= limit : *measured >= limit) ? "yes"
                                                                         : "NO";
  std::printf("| %s | %s | %s %s | %s |\n", what.c_str(), value.c_str(),
              atMost ? "<=" : ">=", Ratio(limit).c_str(), met.c_str());
}

void PrintTargets(const std::vector<CaseResult>& results) {
  std::printf("## Targets\n\n");
  std::printf("| target | measured | limit | met |\n|---|--:|--:|---|\n");
  const CaseResult* realistic = Find(results, "realistic");
  const CaseResult* maximum = Find(results, "maximum");
  auto ratio = [](const CaseResult* r, double CaseResult::*top, double CaseResult::*bottom) {
    return r ? std::optional<double>(r->*top / r->*bottom) : std::nullopt;
  };
  Target("plain / I/O floor, realistic",
         ratio(realistic, &CaseResult::plainSeconds, &CaseResult::floorSeconds), 2.0, true);
  Target("-o / plain, realistic",
         ratio(realistic, &CaseResult::optSeconds, &CaseResult::plainSeconds), 1.5, true);
  Target("-o / plain, maximum", ratio(maximum, &CaseResult::optSeconds, &CaseResult::plainSeconds),
         2.0, true);

  std::optional<double> slowestSpeedUp;
  std::optional<double> slowestProgramSpeedUp;
  for (const CaseResult& r : results) {
    if (r.plan.kind != CaseKind::kReference) continue;
    double speedUp = r.scanSeconds / r.hashedInProcessSeconds;
    slowestSpeedUp = std::min(slowestSpeedUp.value_or(speedUp), speedUp);
    double programSpeedUp = r.scanSeconds / r.optSeconds;
    slowestProgramSpeedUp =
        std::min(slowestProgramSpeedUp.value_or(programSpeedUp), programSpeedUp);
  }
  Target("linear scan / hashed -o in process, smallest over the scan cases", slowestSpeedUp, 100.0,
         false);

  // Linear growth: the time per entry stays flat while the entries grow fourfold.
  std::vector<double> perEntry;
  for (const char* name : {"realistic", "realistic x2", "realistic x4"}) {
    if (const CaseResult* r = Find(results, name)) {
      perEntry.push_back(NsPerEntry(r->optSeconds, r->plan));
    }
  }
  std::optional<double> spread;
  if (perEntry.size() == 3) {
    spread = *std::max_element(perEntry.begin(), perEntry.end()) /
             *std::min_element(perEntry.begin(), perEntry.end());
  }
  Target("-o ns per entry, largest / smallest over realistic, x2, x4 (quadratic would be 4)",
         spread, 1.5, true);

  std::optional<double> worstMemory;
  std::string worstCase;
  for (const CaseResult& r : results) {
    double plain =
        static_cast<double>(r.plainPeak) / MemoryLimit(r.plainOutputBytes, r.donorBoneArrayBytes);
    double opt =
        static_cast<double>(r.optPeak) / MemoryLimit(r.optOutputBytes, r.donorBoneArrayBytes);
    double worse = std::max(plain, opt);
    if (!worstMemory || worse > *worstMemory) {
      worstMemory = worse;
      worstCase = r.plan.name + (opt >= plain ? ", -o" : ", plain");
    }
  }
  Target("peak memory / its limit, worst merge (" + worstCase + ")", worstMemory, 1.0, true);
  if (std::optional<double> stream =
          ratio(realistic, &CaseResult::plainSeconds, &CaseResult::streamSeconds)) {
    std::printf("\nFor comparison, not a target: plain / streaming copy, realistic = %s.\n",
                Ratio(*stream).c_str());
  }
  // The rule and the index are compared like for like above; the program's time adds its
  // start, exit and file I/O, which at the scan sizes is most of it.
  if (slowestProgramSpeedUp) {
    std::printf(
        "For comparison, not a target: linear scan / hashed -o as the program (with process "
        "start and file I/O), smallest over the scan cases = %s.\n",
        Ratio(*slowestProgramSpeedUp).c_str());
  }
  std::printf("\n");
}

// ---- The command line.

std::vector<std::string> SplitIds(const std::string& text) {
  std::vector<std::string> ids;
  std::stringstream in(text);
  std::string id;
  while (std::getline(in, id, ',')) {
    if (!id.empty()) ids.push_back(id);
  }
  return ids;
}

std::optional<Settings> ParseSettings(int argc, char** argv) {
  Settings settings;
  const char* tmp = std::getenv("TMPDIR");
  settings.tempParent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (i + 1 >= argc) return std::nullopt;
    std::string value = argv[++i];
    if (word == "--program") {
      // Each run starts in its case's folder, so a relative path would name nothing there.
      settings.program = std::filesystem::absolute(value).string();
    } else if (word == "--reps") {
      settings.reps = std::atoi(value.c_str());
      if (settings.reps < 1) return std::nullopt;
    } else if (word == "--cases") {
      settings.only = SplitIds(value);
    } else if (word == "--temp") {
      settings.tempParent = value;
    } else {
      return std::nullopt;
    }
  }
  return settings;
}

constexpr char kUsage[] =
    "Usage: bonesplice_bench [--program PATH] [--reps N] [--cases ID,ID,...] [--temp DIR]\n"
    "  --program PATH  the bonesplice program to measure (default: the one built beside this)\n"
    "  --reps N        timed runs of each measurement, the median is reported (default 5)\n"
    "  --cases IDS     run only these cases: small, realistic, realistic-x2, realistic-x4,\n"
    "                  maximum, scan-40k, scan-80k, scan-160k (default: all)\n"
    "  --temp DIR      where the temporary folder is made (default: $TMPDIR or /tmp)\n"
    "Or: bonesplice_bench --generate ID DIR   writes that case's base.gla and donor.gla to DIR\n"
    "and keeps them, to profile a merge by hand.\n";

// Writes one case's base.gla and donor.gla into dir and keeps them, for profiling by hand.
int GenerateOnly(const std::string& id, const std::string& dir) {
  for (const CasePlan& plan : AllCases()) {
    if (CaseId(plan.name) != id) continue;
    std::string error = GenerateInputs(plan, dir + "/base.gla", dir + "/donor.gla");
    if (error.empty()) return 0;
    std::fprintf(stderr, "bonesplice_bench: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "bonesplice_bench: no case %s\n", id.c_str());
  return 2;
}

int Main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], kFloorMode) == 0) {
    FloorKind kind =
        std::strcmp(argv[2], kStreamingWord) == 0 ? FloorKind::kStreaming : FloorKind::kInMemory;
    return IoFloorMain(kind, argv[3], argv[4], argv[5], std::strtoull(argv[6], nullptr, 10));
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) return GenerateOnly(argv[2], argv[3]);
  std::optional<Settings> settings = ParseSettings(argc, argv);
  if (!settings) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (access(settings->program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "bonesplice_bench: cannot run %s\n", settings->program.c_str());
    return 1;
  }
  std::error_code error;
  std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) {
    std::fprintf(stderr, "bonesplice_bench: cannot find its own path\n");
    return 1;
  }

  std::string pattern = settings->tempParent + "/bonesplice-bench-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    std::fprintf(stderr, "bonesplice_bench: cannot make a folder in %s\n",
                 settings->tempParent.c_str());
    return 1;
  }
  std::string root = name.data();

  std::vector<CaseResult> results;
  try {
    for (const CasePlan& plan : AllCases()) {
      const std::vector<std::string>& only = settings->only;
      if (!only.empty() && std::find(only.begin(), only.end(), CaseId(plan.name)) == only.end()) {
        continue;
      }
      Note("case " + plan.name);
      double start = Now();
      results.push_back(RunCase(*settings, self, root, plan));
      Note("  measured in " + Format("%.1f", Now() - start) + " s");
    }
  } catch (const BenchFailure& failure) {
    std::filesystem::remove_all(root);
    std::fprintf(stderr, "bonesplice_bench: %s\n", failure.text.c_str());
    return 1;
  }
  std::filesystem::remove_all(root);

  std::printf("# bonesplice benchmark\n\n");
  PrintMachine(*settings, settings->tempParent);
  PrintTimes(results);
  PrintMemory(results);
  PrintGrowth(results);
  PrintScan(results);
  PrintTargets(results);
  return 0;
}

}  // namespace
}  // namespace bonesplice::bench

int main(int argc, char** argv) {
  return bonesplice::bench::Main(argc, argv);
}
