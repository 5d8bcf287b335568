// The plot of time per entry against the entry count, as an SVG file written by hand.
#pragma once

#include <string>
#include <vector>

#include "run_case.h"

namespace bonesplice::bench {

// Cases with fewer entries than this (base + donor) are left out of the plot: their time is
// mostly the process start.
inline constexpr uint64_t kPlotMinEntries = 50000;

// Writes an SVG of nanoseconds per entry (linear) against base + donor entries (log scale) for
// the streaming floor and both modes, and the earlier build's modes when it was measured.
// False when the file cannot be written or no case has enough entries.
bool WritePlot(const std::vector<CaseResult>& results, const std::string& path);

}  // namespace bonesplice::bench
