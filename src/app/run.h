// The program's run flow: banner, command line, files, prompt, header check, then the bone
// dump or the merge.
#pragma once

#include <string>
#include <vector>

namespace bonesplice {

// Runs the program with the command-line arguments args (args[0] the program) on the console's
// standard input and output. Returns the exit status: 1 after a finished merge or dump, 0
// after the usage text or an error.
int RunProgram(const std::vector<std::string>& args);

}  // namespace bonesplice
