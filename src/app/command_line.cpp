#include "app/command_line.h"

#include <cstring>

namespace bonesplice {
namespace {

void ApplyOptionWord(const char* word, CommandLine& line) {
  if (std::strcmp(word, "-l") == 0) line.listMode = true;
  if (std::strcmp(word, "-o") == 0) line.optimizeMode = true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const argv[]) {
  CommandLine line;
  if (argc < 2) {
    line.showUsage = true;
    return line;
  }
  line.basePath = kDefaultBaseName;
  line.donorPath = argv[1];
  if (argc == 2) return line;
  if (argv[2][0] == '-') {
    ApplyOptionWord(argv[2], line);
  } else {
    line.basePath = argv[1];
    line.donorPath = argv[2];
  }
  if (argc > 3) ApplyOptionWord(argv[3], line);
  return line;
}

}  // namespace bonesplice
