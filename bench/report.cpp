#include "report.h"

#include <algorithm>
#include <cstdio>

#include "text.h"

namespace bonesplice::bench {
namespace {

bool AnyBefore(const std::vector<CaseResult>& results) {
  for (const CaseResult& r : results) {
    if (r.before.opt.measured) return true;
  }
  return false;
}

// A ratio of two figures, or "-" when either is missing or stopped at its limit.
std::string RatioText(const Figure& top, const Figure& bottom) {
  if (!top.measured || !bottom.measured || top.timedOut || bottom.timedOut) return "-";
  return Ratio(top.seconds / bottom.seconds);
}

std::string PeakText(const Figure& figure) {
  return figure.measured ? MiB(figure.peakBytes) : "-";
}

std::string PeakRatioText(const Figure& top, const Figure& bottom) {
  if (!top.measured || !bottom.measured) return "-";
  return Ratio(static_cast<double>(top.peakBytes) / static_cast<double>(bottom.peakBytes));
}

std::string NsText(const Figure& figure, const CasePlan& plan) {
  return figure.measured ? Fixed(NsPerEntry(figure.seconds, plan), 1) : "-";
}

// The cases that are not hash floods, by their entry count.
std::vector<const CaseResult*> SizeCases(const std::vector<CaseResult>& results) {
  std::vector<const CaseResult*> cases;
  for (const CaseResult& r : results) {
    if (r.plan.kind != CaseKind::kFlood) cases.push_back(&r);
  }
  std::stable_sort(cases.begin(), cases.end(), [](const CaseResult* a, const CaseResult* b) {
    return uint64_t{a->plan.baseEntries} + a->plan.donorEntries <
           uint64_t{b->plan.baseEntries} + b->plan.donorEntries;
  });
  return cases;
}

}  // namespace

const CaseResult* FindResult(const std::vector<CaseResult>& results, const std::string& name) {
  for (const CaseResult& result : results) {
    if (result.plan.name == name) return &result;
  }
  return nullptr;
}

double NsPerEntry(double seconds, const CasePlan& plan) {
  return seconds * 1e9 / static_cast<double>(uint64_t{plan.baseEntries} + plan.donorEntries);
}

std::string TimeText(const Figure& figure) {
  if (!figure.measured) return "-";
  if (figure.timedOut) return "> " + Fixed(figure.seconds, 0) + " s";
  return Ms(figure.seconds);
}

void PrintTimes(const std::vector<CaseResult>& results) {
  std::printf("## Merge times\n\n");
  std::printf(
      "| case | base entries | donor entries | donor frames | output entries plain / -o | "
      "output MiB plain / -o | streaming floor ms | cat ms | in-memory floor ms | plain ms | "
      "-o ms | plain / streaming floor | -o / plain | plain / -o CPU ms |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const CaseResult* c : SizeCases(results)) {
    const CaseResult& r = *c;
    std::printf(
        "| %s | %s | %s | %s | %s / %s | %s / %s | %s | %s | %s | %s | %s | %s | %s | %s / %s |\n",
        r.plan.name.c_str(), Count(r.plan.baseEntries).c_str(), Count(r.plan.donorEntries).c_str(),
        Count(r.plan.donorFrames).c_str(), Count(r.plainOutputEntries).c_str(),
        Count(r.optOutputEntries).c_str(), MiB(r.plainOutputBytes).c_str(),
        MiB(r.optOutputBytes).c_str(), TimeText(r.streamingFloor).c_str(), TimeText(r.cat).c_str(),
        TimeText(r.memoryFloor).c_str(), TimeText(r.now.plain).c_str(), TimeText(r.now.opt).c_str(),
        RatioText(r.now.plain, r.streamingFloor).c_str(), RatioText(r.now.opt, r.now.plain).c_str(),
        Ms(r.now.plain.cpuSeconds).c_str(), Ms(r.now.opt.cpuSeconds).c_str());
  }
  std::printf(
      "\nTimes are wall time. The streaming floor reads every input byte and writes as many "
      "bytes as the plain output holds through one small buffer, as `cat` does (its own column "
      "writes both inputs whole); the in-memory floor reads both inputs into fresh memory "
      "first. The CPU column is user + system time of the same runs.\n\n");
}

void PrintMemory(const std::vector<CaseResult>& results) {
  const bool before = AnyBefore(results);
  std::printf("## Peak memory (maximum resident set)\n\n");
  std::printf(
      "As the system reports it (`ru_maxrss`): input pages the program maps count once they "
      "are read.\n\n");
  std::printf("| case | streaming floor MiB | in-memory floor MiB | plain MiB | -o MiB |%s\n",
              before ? " plain before MiB | -o before MiB | plain now / before | "
                       "-o now / before |"
                     : "");
  std::printf("|---|--:|--:|--:|--:|%s\n", before ? "--:|--:|--:|--:|" : "");
  for (const CaseResult* c : SizeCases(results)) {
    const CaseResult& r = *c;
    std::printf("| %s | %s | %s | %s | %s |", r.plan.name.c_str(),
                PeakText(r.streamingFloor).c_str(), PeakText(r.memoryFloor).c_str(),
                PeakText(r.now.plain).c_str(), PeakText(r.now.opt).c_str());
    if (before) {
      std::printf(" %s | %s | %s | %s |", PeakText(r.before.plain).c_str(),
                  PeakText(r.before.opt).c_str(),
                  PeakRatioText(r.now.plain, r.before.plain).c_str(),
                  PeakRatioText(r.now.opt, r.before.opt).c_str());
    }
    std::printf("\n");
  }
  std::printf("\n");
}

void PrintBeforeAfter(const std::vector<CaseResult>& results) {
  if (!AnyBefore(results)) return;
  std::printf("## Before and after\n\n");
  std::printf(
      "The earlier build (\"before\") and the measured one (\"now\") on the same inputs, their "
      "runs taking turns; \"same bytes\" compares their outputs in both modes.\n\n");
  std::printf(
      "| case | plain before ms | plain now ms | now / before | -o before ms | -o now ms | "
      "now / before | same bytes |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|---|\n");
  for (const CaseResult* c : SizeCases(results)) {
    const CaseResult& r = *c;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", r.plan.name.c_str(),
                TimeText(r.before.plain).c_str(), TimeText(r.now.plain).c_str(),
                RatioText(r.now.plain, r.before.plain).c_str(), TimeText(r.before.opt).c_str(),
                TimeText(r.now.opt).c_str(), RatioText(r.now.opt, r.before.opt).c_str(),
                r.before.sameBytes ? "yes" : "NO");
  }
  std::printf("\n");
}

void PrintGrowth(const std::vector<CaseResult>& results) {
  const bool before = AnyBefore(results);
  std::printf("## Growth with the entry count\n\n");
  std::printf(
      "Time per entry of the two inputs (base entries + donor entries); frames grow with the "
      "entries. The plot shows the same figures from the scan cases up.\n\n");
  std::printf("| case | base + donor entries | streaming floor ns | plain ns | -o ns |%s\n",
              before ? " plain before ns | -o before ns |" : "");
  std::printf("|---|--:|--:|--:|--:|%s\n", before ? "--:|--:|" : "");
  for (const CaseResult* c : SizeCases(results)) {
    const CaseResult& r = *c;
    std::printf("| %s | %s | %s | %s | %s |", r.plan.name.c_str(),
                Count(uint64_t{r.plan.baseEntries} + r.plan.donorEntries).c_str(),
                NsText(r.streamingFloor, r.plan).c_str(), NsText(r.now.plain, r.plan).c_str(),
                NsText(r.now.opt, r.plan).c_str());
    if (before) {
      std::printf(" %s | %s |", NsText(r.before.plain, r.plan).c_str(),
                  NsText(r.before.opt, r.plan).c_str());
    }
    std::printf("\n");
  }
  std::printf("\n");
}

void PrintScan(const std::vector<CaseResult>& results) {
  std::printf("## Linear-scan rule against the hashed \"-o\"\n\n");
  std::printf(
      "Both in one process without a process start, on the files in memory: the linear-scan "
      "rule, and the program's merge (PlanMerge and RunMerge with \"-o\") writing nowhere. The "
      "program as users run it (the -o column above) is shown too; at these sizes its time is "
      "mostly process start and file I/O.\n\n");
  std::printf(
      "| case | entries per file | linear scan ms | hashed -o in process ms | speed-up | "
      "hashed -o program ms | speed-up | same bytes |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|---|\n");
  for (const CaseResult& r : results) {
    if (r.plan.kind != CaseKind::kReference) continue;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", r.plan.name.c_str(),
                Count(r.plan.baseEntries).c_str(), Ms(r.scanSeconds).c_str(),
                Ms(r.hashedInProcessSeconds).c_str(),
                Fixed(r.scanSeconds / r.hashedInProcessSeconds, 0).c_str(),
                Ms(r.now.opt.seconds).c_str(), Fixed(r.scanSeconds / r.now.opt.seconds, 0).c_str(),
                r.scanSameBytes ? "yes" : "NO");
  }
  std::printf("\n");
}

void PrintFlood(const std::vector<CaseResult>& results) {
  const bool before = AnyBefore(results);
  std::printf("## Hash flooding\n\n");
  std::printf(
      "\"-o\" on a base of distinct entries crafted to share one hash under the entry index's "
      "unkeyed function, beside random entries of the same count; the donor shares a third of "
      "the base's entries. The program draws its key per run, so the crafted entries collide "
      "no more than random ones.%s\n\n",
      before ? " The earlier build ran each case once, under a time limit (\"> N s\" when it "
               "was stopped there)."
             : "");
  std::printf("| case | base entries | donor entries | -o ms |%s\n",
              before ? " -o before | same bytes |" : "");
  std::printf("|---|--:|--:|--:|%s\n", before ? "--:|---|" : "");
  for (const CaseResult& r : results) {
    if (r.plan.kind != CaseKind::kFlood) continue;
    std::printf("| %s | %s | %s | %s |", r.plan.name.c_str(), Count(r.plan.baseEntries).c_str(),
                Count(r.plan.donorEntries).c_str(), TimeText(r.now.opt).c_str());
    if (before) {
      std::printf(" %s | %s |", TimeText(r.before.opt).c_str(),
                  r.before.opt.timedOut ? "-" : (r.before.sameBytes ? "yes" : "NO"));
    }
    std::printf("\n");
  }
  std::printf("\n");
}

}  // namespace bonesplice::bench
