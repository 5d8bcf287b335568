#include <algorithm>
#include <numeric>

#include "bench.h"
#include "glagen/random.h"
#include "glagen/sample.h"
#include "glagen/whole_file.h"

namespace bonesplice::bench {
namespace {

// Rewrites the first fields of donor frames 1 onwards, in stored order, to a seeded shuffle of
// every entry index; later fields keep their indices. The frames must hold enough fields.
void UseEveryEntry(glagen::SampleFile& donor, uint64_t seed) {
  std::vector<uint32_t> order(donor.entries.size());
  std::iota(order.begin(), order.end(), 0u);
  glagen::Random random(seed);
  for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[random.Below(i)]);
  size_t next = 0;
  for (size_t f = 1; f < donor.frames.size(); ++f) {
    for (uint32_t& index : donor.frames[f]) {
      if (next < order.size()) index = order[next++];
    }
  }
}

// The same pair with both files' frames in first-use order.
CasePlan FirstUseTwin(CasePlan plan) {
  plan.id += "-first-use";
  plan.firstUse = true;
  plan.everyDonorEntryUsed = false;
  return plan;
}

std::vector<CasePlan> MakeCases() {
  const CasePlan realistic = {"realistic", 12, 20000, 1000000};
  // Half of the 2^24 entries a 24-bit index names in each file. The donor's 159,999 appended
  // frames (11.2 million fields) name all of its entries, so the plain output holds exactly
  // 16,777,216, the most the format allows; in first-use order nearly all are named anyway
  // (those named only in donor frame 0 are not appended).
  const CasePlan largest = {"largest", 15, 160000, 1u << 23, false, /*everyDonorEntryUsed=*/true};
  return {{"small", 11, 100, 1000},
          realistic,
          FirstUseTwin(realistic),
          {"realistic-x2", 13, 40000, 2000000},
          {"realistic-x4", 14, 80000, 4000000},
          largest,
          FirstUseTwin(largest),
          // 200,000 distinct base entries, crafted or random; the donor shares a third of them.
          {"flood-crafted", 31, 4000, 200000, false, false, /*flood=*/true, /*colliding=*/true},
          {"flood-random", 31, 4000, 200000, false, false, /*flood=*/true, /*colliding=*/false}};
}

}  // namespace

const std::vector<CasePlan>& AllCases() {
  static const std::vector<CasePlan> cases = MakeCases();
  return cases;
}

const CasePlan* FindCase(const std::string& id) {
  auto found = std::find_if(AllCases().begin(), AllCases().end(),
                            [&id](const CasePlan& plan) { return plan.id == id; });
  return found == AllCases().end() ? nullptr : &*found;
}

std::string GenerateInputs(const CasePlan& plan, const std::string& dir) {
  glagen::GenerateOptions baseOptions;
  baseOptions.seed = plan.seed;
  baseOptions.bones = kBones;
  baseOptions.frames = plan.frames;
  baseOptions.entries = plan.entries;
  baseOptions.name = "bench base";
  baseOptions.repeatShare = plan.flood ? 0.0 : 0.25;
  baseOptions.colliding = plan.colliding;
  baseOptions.firstUseOrder = plan.firstUse;
  glagen::SampleFile base = glagen::GenerateSampleFile(baseOptions);
  if (!glagen::WriteWholeFile(dir + "/base.gla", glagen::EncodeSampleFile(base))) {
    return "cannot write " + dir + "/base.gla";
  }

  glagen::GenerateOptions donorOptions = baseOptions;
  donorOptions.seed = plan.seed + 1000;
  donorOptions.name = "bench donor";
  donorOptions.repeatShare = 0.25;
  donorOptions.colliding = false;
  donorOptions.like = &base;
  donorOptions.sharedShare = 1.0 / 3.0;
  donorOptions.shuffle = true;
  glagen::SampleFile donor = glagen::GenerateSampleFile(donorOptions);
  if (plan.everyDonorEntryUsed) {
    if (uint64_t{plan.frames - 1} * kBones < plan.entries) return "too few frames in " + plan.id;
    UseEveryEntry(donor, plan.seed + 2000);
  }
  if (!glagen::WriteWholeFile(dir + "/donor.gla", glagen::EncodeSampleFile(donor))) {
    return "cannot write " + dir + "/donor.gla";
  }
  return "";
}

}  // namespace bonesplice::bench
