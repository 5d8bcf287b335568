#include "app/command_line.h"

namespace bonesplice {
namespace {

void ApplyOptionWord(const std::string& word, CommandLine& line) {
  if (word == "-l") line.listMode = true;
  if (word == "-o") line.optimizeMode = true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  if (args.size() < 2) {
    line.showUsage = true;
    return line;
  }
  line.basePath = kDefaultBaseName;
  line.donorPath = args[1];
  if (args.size() == 2) return line;
  if (!args[2].empty() && args[2][0] == '-') {
    ApplyOptionWord(args[2], line);
  } else {
    line.basePath = args[1];
    line.donorPath = args[2];
  }
  if (args.size() > 3) ApplyOptionWord(args[3], line);
  return line;
}

}  // namespace bonesplice
