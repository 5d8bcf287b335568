// The program's start on Windows: the wide entry point, so that the arguments arrive as the
// user typed them, whatever the console's code page. The build uses it in place of main.cpp.
#include "app/arguments.h"
#include "app/run.h"
#include "platform/signals.h"

int wmain(int argc, wchar_t* argv[]) {
  bonesplice::platform::PrepareProcess();
  return bonesplice::RunProgram(bonesplice::ArgumentsFromWide(argc, argv));
}
