#include "machine.h"

#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "run_case.h"
#include "text.h"

namespace bonesplice::bench {
namespace {

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 10, "model name") == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown processor";
}

uint64_t MemoryTotal() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  while (in >> key >> kib) {
    if (key == "MemTotal:") return kib * 1024;
    in.ignore(256, '\n');
  }
  return 0;
}

std::string FileSystemType(const std::string& path) {
  struct statfs info;
  if (statfs(path.c_str(), &info) != 0) return "unknown";
  switch (static_cast<uint64_t>(info.f_type)) {
    case 0xEF53:
      return "ext4";
    case 0x01021994:
      return "tmpfs";
    case 0x794C7630:
      return "overlayfs";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    default:
      return "type " + std::to_string(static_cast<uint64_t>(info.f_type));
  }
}

}  // namespace

void PrintMachine(const Settings& settings, const std::string& tempParent) {
  utsname name{};
  uname(&name);
  std::printf("## Machine\n\n");
  std::printf("- Processor: %s, %ld cores online\n", CpuModel().c_str(),
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("- Memory: %.1f GiB; system: %s %s\n",
              static_cast<double>(MemoryTotal()) / kMiB / 1024, name.sysname, name.release);
#ifdef __clang__
  const char* compiler = "clang++";
#else
  const char* compiler = "g++";
#endif
  std::printf("- Compiler: %s %s, build type %s\n", compiler, __VERSION__, BONESPLICE_BUILD_TYPE);
  std::printf("- Temporary files: %s (%s), warm in the page cache\n", tempParent.c_str(),
              FileSystemType(tempParent).c_str());
  std::printf("- Program: %s\n", settings.program.c_str());
  if (!settings.before.empty()) {
    std::printf("- Before: %s\n", settings.before.c_str());
  }
  std::printf(
      "- Each time is the median of %d runs (%d for cases whose output is below %d MiB), after "
      "one untimed warm-up run; the runs of the floors, cat and the merges take turns; each peak "
      "is the largest maximum resident set of those runs; the earlier build runs in the first "
      "%d rounds only; the linear-scan rule is the median of %d\n\n",
      settings.reps, kShortRunFactor * settings.reps, static_cast<int>(kShortRunBytes >> 20),
      kBeforeReps, std::min(settings.reps, kMaxScanReps));
}

}  // namespace bonesplice::bench
