// bonesplice_bench: generates input pairs in a temporary folder, runs the built bonesplice on
// them in both modes as a user does (output name on standard input, progress lines to
// /dev/null), times the I/O floors, cat and the linear-scan rule beside it, and prints the
// figures and the targets as Markdown tables on standard output, with an SVG plot of time per
// entry. Progress goes to standard error.
//
// Usage: see Usage() in settings.cpp, or run with --help.
// Exit status: 0 measured (whether or not the targets are met), 1 a run failed, 2 bad usage.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cases.h"
#include "floor.h"
#include "machine.h"
#include "measure.h"
#include "plot.h"
#include "report.h"
#include "run_case.h"
#include "settings.h"
#include "targets.h"
#include "text.h"

namespace bonesplice::bench {
namespace {

// Writes one case's base.gla and donor.gla into dir and keeps them, for profiling by hand.
int GenerateOnly(const std::string& id, const std::string& dir) {
  for (const CasePlan& plan : AllCases()) {
    if (CaseId(plan) != id) continue;
    std::string error = GenerateInputs(plan, dir + "/base.gla", dir + "/donor.gla");
    if (error.empty()) return 0;
    std::fprintf(stderr, "bonesplice_bench: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "bonesplice_bench: no case %s\n", id.c_str());
  return 2;
}

bool Selected(const Settings& settings, const CasePlan& plan) {
  return settings.only.empty() ||
         std::find(settings.only.begin(), settings.only.end(), CaseId(plan)) != settings.only.end();
}

void PrintReport(const Settings& settings, const std::vector<CaseResult>& results) {
  std::printf("# bonesplice benchmark\n\n");
  PrintMachine(settings, settings.tempParent);
  PrintTimes(results);
  PrintMemory(results);
  PrintBeforeAfter(results);
  PrintGrowth(results);
  PrintScan(results);
  PrintFlood(results);
  PrintTargets(results);
}

int Main(int argc, char** argv) {
  FloorKind kind;
  if (argc == 7 && std::strcmp(argv[1], kFloorMode) == 0 && ParseFloorWord(argv[2], kind)) {
    return IoFloorMain(kind, argv[3], argv[4], argv[5], std::strtoull(argv[6], nullptr, 10));
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(Usage().c_str(), stdout);
      return 0;
    }
  }
  if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) return GenerateOnly(argv[2], argv[3]);

  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    std::fprintf(stderr, "bonesplice_bench: cannot find its own path\n");
    return 1;
  }
  Settings defaults;
  defaults.program = BONESPLICE_PROGRAM;
  const char* tmp = std::getenv("TMPDIR");
  defaults.tempParent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  defaults.plotPath = (self.parent_path() / "merge-time.svg").string();
  std::optional<Settings> settings = ParseSettings(argc, argv, defaults);
  if (!settings) {
    std::fputs(Usage().c_str(), stderr);
    return 2;
  }
  for (const std::string& program : {settings->program, settings->before}) {
    if (!program.empty() && access(program.c_str(), X_OK) != 0) {
      std::fprintf(stderr, "bonesplice_bench: cannot run %s\n", program.c_str());
      return 1;
    }
  }

  std::string pattern = settings->tempParent + "/bonesplice-bench-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    std::fprintf(stderr, "bonesplice_bench: cannot make a folder in %s\n",
                 settings->tempParent.c_str());
    return 1;
  }
  const std::string root = name.data();

  std::vector<CaseResult> results;
  try {
    for (const CasePlan& plan : AllCases()) {
      if (!Selected(*settings, plan)) continue;
      Note("case " + plan.name);
      double start = Now();
      results.push_back(RunCase(*settings, self.string(), root, plan));
      Note("  measured in " + Fixed(Now() - start, 1) + " s");
    }
  } catch (const BenchFailure& failure) {
    std::filesystem::remove_all(root);
    std::fprintf(stderr, "bonesplice_bench: %s\n", failure.text.c_str());
    return 1;
  }
  std::filesystem::remove_all(root);

  PrintReport(*settings, results);
  if (!settings->plotPath.empty()) {
    if (WritePlot(results, settings->plotPath)) {
      Note("plot written to " + settings->plotPath);
    } else {
      Note("no plot: no case with enough entries, or " + settings->plotPath + " not writable");
    }
  }
  return 0;
}

}  // namespace
}  // namespace bonesplice::bench

int main(int argc, char** argv) {
  return bonesplice::bench::Main(argc, argv);
}
