// refmerge BASE DONOR OUTPUT [-o]: writes the reference merge of two files, the independent
// account of the merge that tests outside C++ (the page's) compare outputs against. Expects
// sound inputs, as the reference does; ends with status 0 after writing, 2 otherwise.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reference_merge.h"

namespace {

bool ReadFile(const char* path, std::vector<uint8_t>& bytes) {
  std::ifstream file(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(file), {});
  return static_cast<bool>(file) || file.eof();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4 || argc > 5 || (argc == 5 && std::string(argv[4]) != "-o")) {
    std::fprintf(stderr, "usage: refmerge BASE DONOR OUTPUT [-o]\n");
    return 2;
  }
  std::vector<uint8_t> base;
  std::vector<uint8_t> donor;
  if (!ReadFile(argv[1], base) || !ReadFile(argv[2], donor)) {
    std::fprintf(stderr, "refmerge: cannot read the inputs\n");
    return 2;
  }
  std::vector<uint8_t> merged = reference::ReferenceMerge(base, donor, argc == 5);
  std::ofstream output(argv[3], std::ios::binary);
  output.write(reinterpret_cast<const char*>(merged.data()),
               static_cast<std::streamsize>(merged.size()));
  return output ? 0 : 2;
}
