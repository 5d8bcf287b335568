// Measuring one case: its inputs generated, the floors and the merges run in turns, the
// linear-scan rule timed beside the hashed merge.
#pragma once

#include <cstdint>
#include <string>

#include "cases.h"
#include "settings.h"

namespace bonesplice::bench {

// One kind of run of a case: the median time of its repetitions and the largest peak.
struct Figure {
  bool measured = false;
  bool timedOut = false;  // stopped at its time limit: seconds is that limit
  double seconds = 0;
  double cpuSeconds = 0;  // user + system time
  uint64_t peakBytes = 0;
};

struct ProgramFigures {
  Figure plain;
  Figure opt;             // "-o"
  bool sameBytes = true;  // outputs byte-identical to the measured program's (for before)
};

struct CaseResult {
  CasePlan plan;
  uint64_t baseBytes = 0;
  uint64_t donorBytes = 0;
  uint64_t plainOutputBytes = 0;
  uint64_t optOutputBytes = 0;
  uint64_t plainOutputEntries = 0;
  uint64_t optOutputEntries = 0;
  Figure streamingFloor;
  Figure memoryFloor;
  Figure cat;  // `cat base.gla donor.gla > file`, beside the streaming floor
  ProgramFigures now;
  ProgramFigures before;
  double scanSeconds = 0;             // kReference: the linear-scan rule of "-o", in memory
  double hashedInProcessSeconds = 0;  // kReference: PlanMerge and RunMerge with "-o" in memory
  bool scanSameBytes = false;
};

// Cases whose plain output is smaller than kShortRunBytes are measured kShortRunFactor times
// as often: short runs are the ones another process on the machine disturbs most. The
// linear-scan rule runs at most kMaxScanReps times.
inline constexpr uint64_t kShortRunBytes = uint64_t{64} << 20;
inline constexpr int kShortRunFactor = 3;
inline constexpr int kMaxScanReps = 3;
// The earlier build runs in the first kBeforeReps rounds only: it is the slow one.
inline constexpr int kBeforeReps = 3;

// The timed rounds of a case whose plain output has plainOutputBytes.
int RepsFor(const Settings& settings, uint64_t plainOutputBytes);

// A run that failed ends the benchmark; main reports it after removing the temporary folder.
struct BenchFailure {
  std::string text;
};

// Measures plan in a folder of its own under root and removes the folder; self is this
// program, run in its floor mode. Throws BenchFailure when a run fails.
CaseResult RunCase(const Settings& settings, const std::string& self, const std::string& root,
                   const CasePlan& plan);

}  // namespace bonesplice::bench
