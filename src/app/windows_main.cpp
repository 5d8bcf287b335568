// The program's start on Windows: the wide entry point, so that the arguments arrive as the
// user typed them, whatever the console's code page. The build uses it in place of main.cpp.
#include <cwchar>
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/ending.h"
#include "platform/unicode.h"

int wmain(int argc, wchar_t* argv[]) {
  bonesplice::platform::PrepareProcess();
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    args.push_back(bonesplice::platform::Utf8FromWide(argv[i], std::wcslen(argv[i])));
  }
  return bonesplice::RunProgram(args);
}
