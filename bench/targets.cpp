#include "targets.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "report.h"
#include "text.h"

namespace bonesplice::bench {
namespace {

void Target(const std::string& what, std::optional<double> measured, double limit, bool atMost) {
  std::string value = measured ? Ratio(*measured) : "not measured";
  std::string met = !measured                                            ? "-"
                    : (atMost ? *measured <= limit : *measured >= limit) ? "yes"
                                                                         : "NO";
  std::printf("| %s | %s | %s %s | %s |\n", what.c_str(), value.c_str(),
              atMost ? "<=" : ">=", Ratio(limit).c_str(), met.c_str());
}

std::optional<double> TimeRatio(const Figure& top, const Figure& bottom) {
  if (!top.measured || !bottom.measured || top.timedOut || bottom.timedOut) return std::nullopt;
  return top.seconds / bottom.seconds;
}

std::optional<double> PeakRatio(const Figure& top, const Figure& bottom) {
  if (!top.measured || !bottom.measured || bottom.peakBytes == 0) return std::nullopt;
  return static_cast<double>(top.peakBytes) / static_cast<double>(bottom.peakBytes);
}

// The speed targets at the realistic size and the maximum.
void SpeedTargets(const std::vector<CaseResult>& results) {
  for (const char* name : {"realistic", "maximum"}) {
    const CaseResult* r = FindResult(results, name);
    Target(std::string("plain / streaming floor, ") + name,
           r ? TimeRatio(r->now.plain, r->streamingFloor) : std::nullopt, 1.5, true);
  }
  for (const char* name : {"realistic", "maximum"}) {
    const CaseResult* r = FindResult(results, name);
    Target(std::string("-o / plain, ") + name,
           r ? TimeRatio(r->now.opt, r->now.plain) : std::nullopt, 1.3, true);
  }
}

// Peaks against the earlier build's: none higher, and the plain merge at the maximum far lower.
void MemoryTargets(const std::vector<CaseResult>& results) {
  std::optional<double> worst;
  std::string worstCase;
  for (const CaseResult& r : results) {
    for (bool opt : {false, true}) {
      const Figure& now = opt ? r.now.opt : r.now.plain;
      std::optional<double> ratio = PeakRatio(now, opt ? r.before.opt : r.before.plain);
      if (ratio && (!worst || *ratio > *worst)) {
        worst = ratio;
        worstCase = r.plan.name + (opt ? ", -o" : ", plain");
      }
    }
  }
  Target("peak memory now / before, worst merge" + (worst ? " (" + worstCase + ")" : ""), worst,
         1.0, true);
  const CaseResult* maximum = FindResult(results, "maximum");
  Target("plain peak memory now / before, maximum",
         maximum ? PeakRatio(maximum->now.plain, maximum->before.plain) : std::nullopt, 0.6, true);
}

void FloodTarget(const std::vector<CaseResult>& results) {
  const CaseResult* crafted = FindResult(results, "flood crafted");
  const CaseResult* random = FindResult(results, "flood random");
  Target("-o crafted / random entries, 200,000 colliding base entries",
         crafted && random ? TimeRatio(crafted->now.opt, random->now.opt) : std::nullopt, 1.5,
         true);
}

// The hashed "-o" far faster than the linear scan, and its time per entry flat as the
// entries grow fourfold (quadratic growth would give 4).
void ScalingTargets(const std::vector<CaseResult>& results) {
  std::optional<double> slowestSpeedUp;
  for (const CaseResult& r : results) {
    if (r.plan.kind != CaseKind::kReference) continue;
    double speedUp = r.scanSeconds / r.hashedInProcessSeconds;
    slowestSpeedUp = std::min(slowestSpeedUp.value_or(speedUp), speedUp);
  }
  Target("linear scan / hashed -o in process, smallest over the scan cases", slowestSpeedUp, 100.0,
         false);
  std::vector<double> perEntry;
  for (const char* name : {"realistic", "realistic x2", "realistic x4"}) {
    if (const CaseResult* r = FindResult(results, name)) {
      perEntry.push_back(NsPerEntry(r->now.opt.seconds, r->plan));
    }
  }
  std::optional<double> spread;
  if (perEntry.size() == 3) {
    spread = *std::max_element(perEntry.begin(), perEntry.end()) /
             *std::min_element(perEntry.begin(), perEntry.end());
  }
  Target("-o ns per entry, largest / smallest over realistic, x2, x4", spread, 1.5, true);
}

void Comparisons(const std::vector<CaseResult>& results) {
  for (const char* name : {"realistic", "maximum"}) {
    const CaseResult* r = FindResult(results, name);
    if (r == nullptr) continue;
    std::optional<double> cat = TimeRatio(r->streamingFloor, r->cat);
    std::optional<double> memory = TimeRatio(r->now.plain, r->memoryFloor);
    if (cat && memory) {
      std::printf(
          "For comparison, not a target (%s): streaming floor / cat = %s; plain / in-memory "
          "floor = %s.\n",
          name, Ratio(*cat).c_str(), Ratio(*memory).c_str());
    }
  }
}

}  // namespace

void PrintTargets(const std::vector<CaseResult>& results) {
  std::printf("## Targets\n\n");
  std::printf("| target | measured | limit | met |\n|---|--:|--:|---|\n");
  SpeedTargets(results);
  MemoryTargets(results);
  FloodTarget(results);
  ScalingTargets(results);
  std::printf("\n");
  Comparisons(results);
  std::printf("\n");
}

}  // namespace bonesplice::bench
