// The speed and memory targets, and whether a run met them.
#pragma once

#include <vector>

#include "run_case.h"

namespace bonesplice::bench {

// Prints the targets table: each target's measured value, its limit and whether it is met
// ("-" when the run did not measure it), then a few figures for comparison only.
void PrintTargets(const std::vector<CaseResult>& results);

}  // namespace bonesplice::bench
