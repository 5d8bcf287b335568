#include "app/run.h"

int main(int argc, char* argv[]) {
  return bonesplice::RunProgram(argc, argv);
}
