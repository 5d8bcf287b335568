#include "settings.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cases.h"

namespace bonesplice::bench {
namespace {

std::vector<std::string> SplitIds(const std::string& text) {
  std::vector<std::string> ids;
  std::stringstream in(text);
  std::string id;
  while (std::getline(in, id, ',')) {
    if (!id.empty()) ids.push_back(id);
  }
  return ids;
}

bool KnownCase(const std::string& id) {
  for (const CasePlan& plan : AllCases()) {
    if (CaseId(plan) == id) return true;
  }
  return false;
}

}  // namespace

std::optional<Settings> ParseSettings(int argc, char** argv, Settings settings) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (i + 1 >= argc) return std::nullopt;
    std::string value = argv[++i];
    if (word == "--program" || word == "--before") {
      std::string path = std::filesystem::absolute(value).string();
      (word == "--program" ? settings.program : settings.before) = path;
    } else if (word == "--reps") {
      settings.reps = std::atoi(value.c_str());
      if (settings.reps < 1) return std::nullopt;
    } else if (word == "--cases") {
      settings.only = SplitIds(value);
      for (const std::string& id : settings.only) {
        if (!KnownCase(id)) return std::nullopt;
      }
    } else if (word == "--temp") {
      settings.tempParent = value;
    } else if (word == "--plot") {
      settings.plotPath = value == "none" ? "" : value;
    } else {
      return std::nullopt;
    }
  }
  return settings;
}

std::string Usage() {
  // The case ids, wrapped to the width of the text.
  std::string ids;
  size_t lineStart = 0;
  for (const CasePlan& plan : AllCases()) {
    std::string id = CaseId(plan);
    if (!ids.empty()) ids += ",";
    if (!ids.empty() && ids.size() - lineStart + id.size() > 72) {
      ids += "\n                  ";
      lineStart = ids.size();
    } else if (!ids.empty()) {
      ids += " ";
    }
    ids += id;
  }
  return "Usage: bonesplice_bench [--program PATH] [--before PATH] [--reps N] [--cases IDS]\n"
         "                        [--temp DIR] [--plot FILE]\n"
         "  --program PATH  the bonesplice program to measure (default: the one built beside "
         "this)\n"
         "  --before PATH   an earlier bonesplice measured beside it, for before-and-after "
         "figures\n"
         "                  and the memory targets (default: none)\n"
         "  --reps N        timed runs of each measurement, the median is reported (default 5)\n"
         "  --cases IDS     run only these cases, separated by commas (default: all):\n"
         "                  " +
         ids +
         "\n"
         "  --temp DIR      where the temporary folder is made (default: $TMPDIR or /tmp)\n"
         "  --plot FILE     where the SVG plot of time per entry goes, or none\n"
         "                  (default: merge-time.svg beside this program)\n"
         "Or: bonesplice_bench --generate ID DIR   writes that case's base.gla and donor.gla to "
         "DIR\n"
         "and keeps them, to profile a merge by hand.\n";
}

}  // namespace bonesplice::bench
