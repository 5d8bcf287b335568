// The command line: which files to merge and which modes are on.
#pragma once

#include <string>
#include <vector>

namespace bonesplice {

inline constexpr char kDefaultBaseName[] = "_humanoid.gla";

struct CommandLine {
  bool showUsage = false;
  std::string basePath;
  std::string donorPath;
  bool listMode = false;      // "-l": dump both skeletons to bone.log and quit
  bool optimizeMode = false;  // "-o": share byte-identical bone data entries
};

// With one argument it is the donor and "_humanoid.gla" the base. With two or more, a second
// argument beginning with "-" is an option word (base "_humanoid.gla", donor the first);
// otherwise the first two are base and donor. A third argument is an option word too; later
// ones are ignored. Only the exact words "-l" and "-o" set a mode. args[0] is the program.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace bonesplice
