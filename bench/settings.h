// What a run of the benchmark measures, from its command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bonesplice::bench {

struct Settings {
  std::string program;            // the bonesplice program measured
  std::string before;             // an earlier build measured beside it; empty when none
  int reps = 5;                   // timed runs of each measurement; the median is reported
  std::vector<std::string> only;  // case ids; empty means all
  std::string tempParent;         // where the temporary folder is made
  std::string plotPath;           // where the SVG plot goes; empty means none
  double beforeFloodLimit = 60;   // seconds the earlier build may take on a flood case
};

// The settings the options in argv ask for, from the defaults given; nullopt when they are not
// usable. Paths of programs are made absolute, since each run starts in its case's folder.
std::optional<Settings> ParseSettings(int argc, char** argv, Settings defaults);

// The usage text, listing the case ids.
std::string Usage();

}  // namespace bonesplice::bench
