// The benchmark's input pairs: what each case is for and how its base and donor files are
// generated with the sample-file generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bonesplice::bench {

enum class CaseKind {
  kSize,       // one of the sizes the targets name: small, realistic, maximum
  kGrowth,     // the realistic shape scaled up, to show how time grows with the entry count
  kReference,  // small enough for the linear-scan rule, which is timed beside the program
  kFlood,      // "-o" only: a base whose entries collide in the unkeyed hash, or its random twin
};

struct CasePlan {
  std::string name;
  CaseKind kind = CaseKind::kSize;
  uint64_t seed = 1;
  uint32_t bones = 70;
  uint32_t baseFrames = 0;
  uint32_t donorFrames = 0;
  uint32_t baseEntries = 0;
  uint32_t donorEntries = 0;
  double sharedShare = 1.0 / 3.0;  // donor entries copied from base entries
  double repeatShare = 0.25;       // entries of each file that repeat an earlier one of it
  // Donor frames 1 onwards refer to every donor entry at least once, so that the plain merge
  // appends all of them; otherwise frame indices are uniformly random.
  bool everyDonorEntryUsed = false;
  // The base's fresh entries are crafted to share one hash under the entry index's unkeyed
  // function (glagen's colliding option).
  bool collidingBase = false;
};

// Every case, in the order the benchmark runs them.
std::vector<CasePlan> AllCases();

// The case's name as the command line gives it: spaces become dashes.
std::string CaseId(const CasePlan& plan);

// Writes the case's base and donor files to basePath and donorPath. The donor takes the base's
// bone names in a shuffled order, so that every donor frame is reordered. Returns an error text,
// empty on success. Memory-hungry: run it in a child process.
std::string GenerateInputs(const CasePlan& plan, const std::string& basePath,
                           const std::string& donorPath);

}  // namespace bonesplice::bench
