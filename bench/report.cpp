#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "bench.h"

namespace bonesplice::bench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string Count(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string MiB(uint64_t bytes) {
  return bytes == 0 ? "-" : Fixed(static_cast<double>(bytes) / kMiB, 1);
}

std::string Pair(const std::string& first, const std::string& second) {
  return first + " / " + second;
}

std::string Time(const Figure& figure) {
  if (figure.stopped) return "> " + std::to_string(kBeforeCpuSeconds) + " s";
  const double seconds = Median(figure.seconds);
  return figure.seconds.empty() ? "-" : Fixed(seconds * 1000, seconds < 0.1 ? 2 : 0);
}

std::string Ratio(std::optional<double> ratio) {
  return ratio ? Fixed(*ratio, 2) : "-";
}

std::optional<double> TimeRatio(const Figure& top, const Figure& bottom) {
  if (!Measured(top) || !Measured(bottom)) return std::nullopt;
  return Median(top.seconds) / Median(bottom.seconds);
}

// The larger peak of a build's two thread counts, and now's against before's.
uint64_t PeakOf(const CaseResult& r, Build build, Mode mode) {
  return std::max(r.merges[build][mode][kOneThread].peakBytes,
                  r.merges[build][mode][kAllThreads].peakBytes);
}

std::optional<double> PeakRatio(const CaseResult& r, Mode mode) {
  if (PeakOf(r, kBefore, mode) == 0 || PeakOf(r, kNow, mode) == 0) return std::nullopt;
  return static_cast<double>(PeakOf(r, kNow, mode)) / static_cast<double>(PeakOf(r, kBefore, mode));
}

// show of a build's figures of a mode: "with one thread / with all threads".
std::string OneAndAll(const CaseResult& r, Build build, Mode mode,
                      std::string (*show)(const Figure&)) {
  return Pair(show(r.merges[build][mode][kOneThread]), show(r.merges[build][mode][kAllThreads]));
}

// now's time against before's, with one thread / with all threads.
std::string NowOverBefore(const CaseResult& r, Mode mode) {
  const Figure(&now)[2] = r.merges[kNow][mode];
  const Figure(&before)[2] = r.merges[kBefore][mode];
  return Pair(Ratio(TimeRatio(now[kOneThread], before[kOneThread])),
              Ratio(TimeRatio(now[kAllThreads], before[kAllThreads])));
}

void Row(const std::vector<std::string>& cells) {
  std::string line = "|";
  for (const std::string& cell : cells) line += " " + cell + " |";
  std::printf("%s\n", line.c_str());
}

// A section's title and its table's header; the first column aligned left.
void Header(const char* title, const std::vector<std::string>& cells) {
  std::printf("## %s\n\n", title);
  Row(cells);
  std::string rule = "|---|";
  for (size_t i = 1; i < cells.size(); ++i) rule += "--:|";
  std::printf("%s\n", rule.c_str());
}

std::string FileLine(const char* path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

void PrintMachine(const Settings& settings) {
  utsname name{};
  uname(&name);
  const double memory = std::atof(FileLine("/proc/meminfo", "MemTotal").c_str()) * 1024;
#ifdef __clang__
  const char* compiler = "clang++";
#else
  const char* compiler = "g++";
#endif
  std::printf(
      "# bonesplice benchmark\n\n## Machine\n\n- Processor: %s, %d cores online\n- Memory: "
      "%.1f GiB; system: %s %s\n- Compiler: %s %s, build type %s\n- Temporary files: %s, "
      "warm in the page cache\n- Program: %s\n",
      FileLine("/proc/cpuinfo", "model name").c_str(), settings.allThreads, memory / kMiB / 1024,
      name.sysname, name.release, compiler, __VERSION__, BONESPLICE_BUILD_TYPE,
      settings.temp.c_str(), settings.program.c_str());
  if (!settings.before.empty()) std::printf("- Before: %s\n", settings.before.c_str());
  std::printf(
      "- Each time is the median of %d rounds (%d when the plain output is below %d MiB) after "
      "an untimed warm-up round; in a round the merges (each build, mode and thread count), "
      "the streaming floor and cat take turns, each after a `sync`. A peak is the largest "
      "`ru_maxrss` of the runs. Cells \"a / b\" are the runs with BONESPLICE_THREADS=1 / =%d "
      "(all cores).%s\n\n",
      settings.reps, kShortRunFactor * settings.reps, static_cast<int>(kShortRunBytes >> 20),
      settings.allThreads,
      settings.before.empty() ? "" : " The earlier build runs in the first 3 rounds only.");
}

void PrintTargets(const std::vector<CaseResult>& results, bool before) {
  std::printf("## Targets\n\n| target | case | measured | limit | met |\n|---|---|--:|--:|---|\n");
  auto target = [](const char* what, const char* where, std::optional<double> value, double limit) {
    Row({what, where, Ratio(value), "<= " + Fixed(limit, 1),
         value ? (*value <= limit ? "yes" : "NO") : "-"});
  };
  const CaseResult none;
  auto find = [&](const std::string& id) -> const CaseResult& {
    for (const CaseResult& r : results) {
      if (r.plan.id == id) return r;
    }
    return none;
  };
  const std::pair<const char*, double> floorLimits[] = {{"realistic", 1.3},
                                                        {"realistic-first-use", 1.3},
                                                        {"largest", 1.6},
                                                        {"largest-first-use", 1.6}};
  for (const auto& [id, floorLimit] : floorLimits) {
    const CaseResult& r = find(id);
    const auto& now = r.merges[kNow];
    const auto& old = r.merges[kBefore];
    target("plain / streaming floor, all threads", id, TimeRatio(now[kPlain][kAllThreads], r.floor),
           floorLimit);
    target("-o / plain, all threads", id,
           TimeRatio(now[kOpt][kAllThreads], now[kPlain][kAllThreads]), 1.6);
    if (!before) continue;
    target("plain, 1 thread / before", id,
           TimeRatio(now[kPlain][kOneThread], old[kPlain][kOneThread]), 1.0);
    target("-o, 1 thread / before", id, TimeRatio(now[kOpt][kOneThread], old[kOpt][kOneThread]),
           1.0);
    target("peak memory plain / before", id, PeakRatio(r, kPlain), 1.0);
    target("peak memory -o / before", id, PeakRatio(r, kOpt), 1.5);
  }
  target("-o crafted / random entries, all threads", "flood",
         TimeRatio(find("flood-crafted").merges[kNow][kOpt][kAllThreads],
                   find("flood-random").merges[kNow][kOpt][kAllThreads]),
         1.5);
  std::printf("\n%s", before ? "" : "The targets against an earlier build need --before.\n\n");
}

}  // namespace

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

double NsPerEntry(double seconds, const CasePlan& plan) {
  return seconds * 1e9 / (2.0 * plan.entries);
}

void PrintReport(const Settings& settings, const std::vector<CaseResult>& results) {
  const std::string threads = " 1 / " + std::to_string(settings.allThreads);
  const bool before = !settings.before.empty();
  PrintMachine(settings);

  Header("Inputs and outputs",
         {"case", "index order", "frames per file", "entries per file", "input MiB base + donor",
          "output entries plain / -o", "output MiB plain / -o", "outputs identical plain / -o"});
  for (const CaseResult& r : results) {
    auto same = [&r](Mode mode) -> std::string {
      return r.compared[mode] == 0 ? "-" : r.sameBytes[mode] ? "yes" : "NO";
    };
    Row({r.plan.id, r.plan.firstUse ? "first use" : "random", Count(r.plan.frames),
         Count(r.plan.entries), MiB(r.baseBytes) + " + " + MiB(r.donorBytes),
         Pair(r.plan.flood ? "-" : Count(r.outputEntries[kPlain]), Count(r.outputEntries[kOpt])),
         Pair(MiB(r.outputBytes[kPlain]), MiB(r.outputBytes[kOpt])),
         Pair(same(kPlain), same(kOpt))});
  }
  std::printf(
      "\nThe flood cases run \"-o\" only. Each output of the warm-up round is compared with the "
      "first of its mode.\n\n");

  Header("Merge times",
         {"case", "streaming floor ms", "cat ms", "plain ms" + threads, "-o ms" + threads,
          "plain / floor", "-o / plain", "ns per entry plain / -o", "CPU ms plain / -o"});
  for (const CaseResult& r : results) {
    const Figure& plain = r.merges[kNow][kPlain][kAllThreads];
    const Figure& opt = r.merges[kNow][kOpt][kAllThreads];
    auto ns = [&r](const Figure& f) {
      return Measured(f) ? Fixed(NsPerEntry(Median(f.seconds), r.plan), 1) : "-";
    };
    auto cpu = [](const Figure& f) {
      return f.seconds.empty() ? "-" : Fixed(Median(f.cpuSeconds) * 1000, 0);
    };
    Row({r.plan.id, Time(r.floor), Time(r.cat), OneAndAll(r, kNow, kPlain, Time),
         OneAndAll(r, kNow, kOpt, Time), Ratio(TimeRatio(plain, r.floor)),
         Ratio(TimeRatio(opt, plain)), Pair(ns(plain), ns(opt)), Pair(cpu(plain), cpu(opt))});
  }
  std::printf(
      "\nWall time; ratios, time per entry (of base + donor) and CPU time (user + system) with "
      "all threads.\n\n");

  Header("Peak memory (maximum resident set, MiB)",
         {"case", "streaming floor", "plain" + threads, "-o" + threads});
  auto peak = [](const Figure& f) { return MiB(f.peakBytes); };
  for (const CaseResult& r : results) {
    Row({r.plan.id, MiB(r.floor.peakBytes), OneAndAll(r, kNow, kPlain, peak),
         OneAndAll(r, kNow, kOpt, peak)});
  }
  std::printf("\nInput pages the program maps count once read.\n\n");

  if (before) {
    Header("Before and after", {"case", "plain before ms" + threads, "plain now ms" + threads,
                                "plain now / before" + threads, "-o before ms" + threads,
                                "-o now ms" + threads, "-o now / before" + threads,
                                "peak MiB plain before / now", "peak MiB -o before / now"});
    for (const CaseResult& r : results) {
      Row({r.plan.id, OneAndAll(r, kBefore, kPlain, Time), OneAndAll(r, kNow, kPlain, Time),
           NowOverBefore(r, kPlain), OneAndAll(r, kBefore, kOpt, Time),
           OneAndAll(r, kNow, kOpt, Time), NowOverBefore(r, kOpt),
           Pair(MiB(PeakOf(r, kBefore, kPlain)), MiB(PeakOf(r, kNow, kPlain))),
           Pair(MiB(PeakOf(r, kBefore, kOpt)), MiB(PeakOf(r, kNow, kOpt)))});
    }
    std::printf("\nA peak is the larger of a build's two thread counts.\n\n");
  }
  PrintTargets(results, before);
}

}  // namespace bonesplice::bench
