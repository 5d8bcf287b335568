#include "scan.h"

#include <optional>
#include <sstream>
#include <vector>

#include "measure.h"
#include "merge/pipeline.h"
#include "platform/random_key.h"
#include "reference_merge.h"
#include "run_case.h"

namespace bonesplice::bench {
namespace {

// A merge output that drops every byte.
class DiscardOutput : public MergeOutput {
 public:
  bool Begin() override { return true; }
  bool TakesPiecesAtOffsets() const override { return true; }
  bool WriteAt(uint64_t, const uint8_t*, size_t) override { return true; }
  bool CopyFromBaseAt(uint64_t, uint64_t, uint64_t) override { return true; }
};

// The program's own merge with "-o" on base and donor in memory, with a key drawn as the
// program draws it, writing nowhere; its time, or nullopt when it failed.
std::optional<double> TimeHashedMerge(const std::vector<uint8_t>& base,
                                      const std::vector<uint8_t>& donor) {
  ByteView baseView{base.data(), base.size()};
  ByteView donorView{donor.data(), donor.size()};
  double start = Now();
  MergeOptions options;
  options.optimize = true;
  options.hashKey = {platform::RandomKey(), platform::RandomKey()};
  DiscardOutput output;
  if (RunMerge(baseView, donorView, output, options)) return std::nullopt;
  return Now() - start;
}

}  // namespace

ScanFigures MeasureScan(const std::string& dir, int reps, int hashedReps) {
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
      std::optional<double> seconds = TimeHashedMerge(*base, *donor);
      if (!seconds) return "";
      hashedTimes.push_back(*seconds);
    }
    std::ostringstream out;
    out.precision(9);
    out << Median(times) << ' ' << Median(hashedTimes) << (same ? " same" : " different");
    return out.str();
  });
  if (!text || text->empty()) throw BenchFailure{"the linear-scan rule failed in " + dir};
  ScanFigures figures;
  std::istringstream in(*text);
  std::string verdict;
  in >> figures.scanSeconds >> figures.hashedSeconds >> verdict;
  figures.sameBytes = verdict == "same";
  return figures;
}

}  // namespace bonesplice::bench
