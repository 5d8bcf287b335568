// The program's run flow: banner, command line, files, prompt, header check, then the bone
// dump or the merge.
#pragma once

namespace bonesplice {

// Runs the program on the console's standard input and output. Returns the exit status:
// 1 after a finished merge or dump, 0 after the usage text or an error.
int RunProgram(int argc, const char* const argv[]);

}  // namespace bonesplice
