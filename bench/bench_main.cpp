// bonesplice_bench: generates input pairs in a temporary folder, runs the built bonesplice on
// them as a user does, beside the streaming floor and cat, and prints the figures and the
// targets as Markdown tables on standard output, with an SVG plot of time per entry. Progress
// goes to standard error. Exit status: 0 measured (targets met or not), 1 a run failed, 2 bad
// usage.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "bench.h"

namespace bonesplice::bench {
namespace {

namespace fs = std::filesystem;

// The streaming floor, run as a mode of this program so that it starts as the merge does:
// reads base and donor to their end through one 128 KiB buffer and, after each read, writes
// what it read until outputBytes are written to output. 0 when every read and write succeeded.
int FloorMain(const char* base, const char* donor, const char* output, uint64_t outputBytes) {
  int out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  std::vector<uint8_t> buffer(size_t{128} << 10);
  uint64_t left = outputBytes;
  bool ok = true;
  for (const char* path : {base, donor}) {
    int in = open(path, O_RDONLY);
    ssize_t got = in < 0 ? -1 : 0;
    while (ok && in >= 0 && (got = read(in, buffer.data(), buffer.size())) > 0) {
      size_t keep = static_cast<size_t>(std::min(left, static_cast<uint64_t>(got)));
      ok = write(out, buffer.data(), keep) == static_cast<ssize_t>(keep);
      left -= keep;
    }
    ok = ok && got == 0;
    if (in >= 0) close(in);
  }
  ok = close(out) == 0 && ok;
  return ok && left == 0 ? 0 : 1;
}

std::string Usage() {
  std::string ids;
  for (const CasePlan& plan : AllCases()) {
    const size_t lineLength = ids.size() - std::min(ids.size(), ids.rfind('\n') + 1);
    ids += ids.empty() ? "  " : lineLength + plan.id.size() > 90 ? ",\n  " : ", ";
    ids += plan.id;
  }
  return "Usage: bonesplice_bench [--program PATH] [--before PATH] [--reps N] [--cases IDS]\n"
         "                        [--temp DIR] [--plot FILE|none]\n"
         "       bonesplice_bench --generate ID DIR   (the other options are then ignored)\n"
         "  --program PATH  the bonesplice measured (default: the one built beside this)\n"
         "  --before PATH   an earlier bonesplice run in the same rounds on the same inputs;\n"
         "                  its outputs must be the same bytes (default: none)\n"
         "  --reps N        timed rounds, each figure the median (default 5; three times as\n"
         "                  many for cases whose plain output is below 64 MiB)\n"
         "  --cases IDS     only these cases, separated by commas (default: all)\n"
         "  --temp DIR      where the temporary folder is made (default: $TMPDIR or /tmp)\n"
         "  --plot FILE     the SVG plot of time per entry, or none (default: merge-time.svg\n"
         "                  beside this program)\n"
         "  --generate      writes case ID's base.gla and donor.gla into DIR and keeps them\n"
         "Each merge runs with BONESPLICE_THREADS=1 and with it set to the cores online.\n"
         "Case ids:\n" +
         ids + "\n";
}

std::optional<Settings> ParseSettings(int argc, char** argv, Settings settings) {
  if (argc % 2 == 0) return std::nullopt;  // an option without its value
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string word = argv[i];
    const std::string value = argv[i + 1];
    if (word == "--program" || word == "--before") {
      (word == "--program" ? settings.program : settings.before) = fs::absolute(value).string();
    } else if (word == "--reps") {
      settings.reps = std::atoi(value.c_str());
      if (settings.reps < 1) return std::nullopt;
    } else if (word == "--cases") {
      std::stringstream ids(value);
      for (std::string id; std::getline(ids, id, ',');) {
        if (FindCase(id) == nullptr) return std::nullopt;
        settings.cases.push_back(id);
      }
    } else if (word == "--temp") {
      settings.temp = value;
    } else if (word == "--plot") {
      settings.plotPath = value == "none" ? "" : value;
    } else {
      return std::nullopt;
    }
  }
  return settings;
}

// Reports text on standard error; returns status.
int Error(const std::string& text, int status) {
  std::fprintf(stderr, "bonesplice_bench: %s\n", text.c_str());
  return status;
}

int Main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--floor") == 0) {
    return FloorMain(argv[2], argv[3], argv[4], std::strtoull(argv[5], nullptr, 10));
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return std::fputs(Usage().c_str(), stdout) < 0;
    if (std::strcmp(argv[i], "--generate") != 0 || i + 2 >= argc) continue;
    const CasePlan* plan = FindCase(argv[i + 1]);
    if (plan == nullptr) return Error("no case " + std::string(argv[i + 1]), 2);
    std::error_code ignored;
    fs::create_directories(argv[i + 2], ignored);
    const std::string error = GenerateInputs(*plan, argv[i + 2]);
    return error.empty() ? 0 : Error(error, 1);
  }

  Settings defaults;
  std::error_code ignored;
  defaults.self = fs::read_symlink("/proc/self/exe", ignored).string();
  defaults.program = BONESPLICE_PROGRAM;
  const char* tmp = std::getenv("TMPDIR");
  defaults.temp = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  defaults.plotPath = (fs::path(defaults.self).parent_path() / "merge-time.svg").string();
  defaults.allThreads = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  const std::optional<Settings> settings = ParseSettings(argc, argv, defaults);
  if (!settings) return Error("bad options\n" + Usage(), 2);
  for (const std::string& program : {settings->program, settings->before}) {
    if (!program.empty() && access(program.c_str(), X_OK) != 0)
      return Error("cannot run " + program, 1);
  }
  std::string root = settings->temp + "/bonesplice-bench-XXXXXX";
  if (mkdtemp(root.data()) == nullptr) return Error("cannot make a folder in " + settings->temp, 1);
  std::vector<CaseResult> results;
  for (const CasePlan& plan : AllCases()) {
    const std::vector<std::string>& only = settings->cases;
    if (!only.empty() && std::find(only.begin(), only.end(), plan.id) == only.end()) continue;
    Note("case %s", plan.id.c_str());
    const double start = Now();
    const std::string dir = root + "/" + plan.id;
    try {
      fs::create_directory(dir);
      results.push_back(RunCase(*settings, plan, dir));
    } catch (const std::exception& failure) {  // a BenchFailure, or a file system error
      fs::remove_all(root);
      return Error(failure.what(), 1);
    }
    fs::remove_all(dir);
    Note("  measured in %.1f s", Now() - start);
  }
  fs::remove_all(root);
  PrintReport(*settings, results);
  if (!settings->plotPath.empty()) {
    const bool written = WritePlot(results, settings->plotPath);
    Note(written ? "plot written to %s" : "no plot: no case large enough, or %s not writable",
         settings->plotPath.c_str());
  }
  return 0;
}

}  // namespace
}  // namespace bonesplice::bench

int main(int argc, char** argv) {
  return bonesplice::bench::Main(argc, argv);
}
