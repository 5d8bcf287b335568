// The measured figures as Markdown tables on standard output.
#pragma once

#include <string>
#include <vector>

#include "run_case.h"

namespace bonesplice::bench {

// The case of that name among results, or nullptr.
const CaseResult* FindResult(const std::vector<CaseResult>& results, const std::string& name);

// Time per entry of the two inputs (base entries + donor entries), in nanoseconds.
double NsPerEntry(double seconds, const CasePlan& plan);

// A time in milliseconds, or "> N s" for a run stopped at its limit, or "-" when not measured.
std::string TimeText(const Figure& figure);

void PrintTimes(const std::vector<CaseResult>& results);
void PrintMemory(const std::vector<CaseResult>& results);
// Only when an earlier build was measured.
void PrintBeforeAfter(const std::vector<CaseResult>& results);
void PrintGrowth(const std::vector<CaseResult>& results);
void PrintScan(const std::vector<CaseResult>& results);
void PrintFlood(const std::vector<CaseResult>& results);

}  // namespace bonesplice::bench
