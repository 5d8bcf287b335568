#include <string>
#include <vector>

#include "app/run.h"
#include "platform/ending.h"

int main(int argc, char* argv[]) {
  bonesplice::platform::PrepareProcess();
  return bonesplice::RunProgram(std::vector<std::string>(argv, argv + argc));
}
