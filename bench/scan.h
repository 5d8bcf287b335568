// The linear-scan rule of "-o" timed beside the program's hashed merge, both in memory.
#pragma once

#include <string>

namespace bonesplice::bench {

struct ScanFigures {
  double scanSeconds = 0;    // the linear-scan rule, median
  double hashedSeconds = 0;  // PlanMerge and RunMerge with "-o", median
  bool sameBytes = false;    // both modes of the rule gave the program's outputs
};

// Times the rule reps times and the hashed merge hashedReps times in a child process, on
// base.gla and donor.gla of dir read into memory, without a process start, and compares the
// rule's outputs with plain-check.gla and opt-check.gla there. Throws BenchFailure when a step
// fails.
ScanFigures MeasureScan(const std::string& dir, int reps, int hashedReps);

}  // namespace bonesplice::bench
