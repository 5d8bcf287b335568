#include "cases.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "glagen/random.h"
#include "glagen/sample.h"
#include "measure.h"

namespace bonesplice::bench {
namespace {

// Rewrites the fields of donor frames 1 onwards, taken in stored order, so that the first
// entryCount of them hold a seeded shuffle of every entry index; later fields keep their
// random indices. The frames must hold at least entryCount such fields.
void UseEveryEntry(glagen::SampleFile& donor, uint32_t entryCount, uint64_t seed) {
  std::vector<uint32_t> order(entryCount);
  std::iota(order.begin(), order.end(), 0u);
  glagen::Random random(seed);
  for (size_t i = order.size(); i > 1; --i) {
    std::swap(order[i - 1], order[static_cast<size_t>(random.Below(i))]);
  }
  size_t next = 0;
  for (size_t f = 1; f < donor.frames.size() && next < order.size(); ++f) {
    for (uint32_t& index : donor.frames[f]) {
      if (next == order.size()) break;
      index = order[next++];
    }
  }
}

CasePlan Case(std::string name, CaseKind kind, uint64_t seed, uint32_t baseFrames,
              uint32_t donorFrames, uint32_t baseEntries, uint32_t donorEntries) {
  CasePlan plan;
  plan.name = std::move(name);
  plan.kind = kind;
  plan.seed = seed;
  plan.baseFrames = baseFrames;
  plan.donorFrames = donorFrames;
  plan.baseEntries = baseEntries;
  plan.donorEntries = donorEntries;
  return plan;
}

}  // namespace

std::vector<CasePlan> AllCases() {
  std::vector<CasePlan> cases;
  cases.push_back(Case("small", CaseKind::kSize, 11, 100, 100, 1000, 1000));
  cases.push_back(Case("realistic", CaseKind::kSize, 12, 20000, 20000, 1000000, 1000000));
  cases.push_back(Case("realistic x2", CaseKind::kGrowth, 13, 40000, 40000, 2000000, 2000000));
  cases.push_back(Case("realistic x4", CaseKind::kGrowth, 14, 80000, 80000, 4000000, 4000000));
  // Half of the format's limit in each file; the donor's 120,000 appended frames refer to all
  // of its entries, so the plain merge's output holds exactly 16,777,216.
  CasePlan maximum = Case("maximum", CaseKind::kSize, 15, 60000, 120001, 1u << 23, 1u << 23);
  maximum.everyDonorEntryUsed = true;
  cases.push_back(maximum);
  // The realistic shape (about 1.4 frame fields per donor entry) at sizes the linear-scan rule
  // finishes in seconds.
  cases.push_back(Case("scan 40k", CaseKind::kReference, 21, 800, 800, 40000, 40000));
  cases.push_back(Case("scan 80k", CaseKind::kReference, 22, 1600, 1600, 80000, 80000));
  cases.push_back(Case("scan 160k", CaseKind::kReference, 23, 3200, 3200, 160000, 160000));
  // 200,000 distinct base entries, crafted to collide or random; the donor shares a third of
  // them. The shipped index draws its key per run, so both should take the same time.
  for (bool colliding : {true, false}) {
    CasePlan flood = Case(colliding ? "flood crafted" : "flood random", CaseKind::kFlood, 31, 4000,
                          4000, 200000, 200000);
    flood.collidingBase = colliding;
    cases.push_back(flood);
  }
  return cases;
}

std::string CaseId(const CasePlan& plan) {
  std::string id = plan.name;
  std::replace(id.begin(), id.end(), ' ', '-');
  return id;
}

std::string GenerateInputs(const CasePlan& plan, const std::string& basePath,
                           const std::string& donorPath) {
  glagen::GenerateOptions baseOptions;
  baseOptions.seed = plan.seed;
  baseOptions.bones = plan.bones;
  baseOptions.frames = plan.baseFrames;
  baseOptions.entries = plan.baseEntries;
  baseOptions.name = "bench base";
  // A flood's base entries are all distinct, so that each one lengthens a collision chain.
  baseOptions.repeatShare = plan.kind == CaseKind::kFlood ? 0.0 : plan.repeatShare;
  baseOptions.colliding = plan.collidingBase;
  glagen::SampleFile base = glagen::GenerateSampleFile(baseOptions);

  glagen::GenerateOptions donorOptions;
  donorOptions.seed = plan.seed + 1000;
  donorOptions.frames = plan.donorFrames;
  donorOptions.entries = plan.donorEntries;
  donorOptions.name = "bench donor";
  donorOptions.repeatShare = plan.repeatShare;
  donorOptions.like = &base;
  donorOptions.sharedShare = plan.sharedShare;
  donorOptions.shuffle = true;
  glagen::SampleFile donor = glagen::GenerateSampleFile(donorOptions);
  if (plan.everyDonorEntryUsed) {
    uint64_t fields = uint64_t{plan.donorFrames > 0 ? plan.donorFrames - 1 : 0} * plan.bones;
    if (fields < plan.donorEntries) return "too few donor frames to use every donor entry";
    UseEveryEntry(donor, plan.donorEntries, plan.seed + 2000);
  }

  if (!WriteFileSynced(basePath, glagen::EncodeSampleFile(base))) return "cannot write " + basePath;
  if (!WriteFileSynced(donorPath, glagen::EncodeSampleFile(donor))) {
    return "cannot write " + donorPath;
  }
  return "";
}

}  // namespace bonesplice::bench
