#include "app/run.h"
#include "platform/platform.h"

int main(int argc, char* argv[]) {
  bonesplice::platform::PrepareProcess();
  return bonesplice::RunProgram(bonesplice::platform::Arguments(argc, argv));
}
