#include "app/run.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/dump.h"
#include "app/messages.h"
#include "format/header.h"
#include "merge/pipeline.h"

namespace bonesplice {
namespace {

constexpr size_t kMaxOutputName = 255;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
}

enum class NameRead { kOk, kMissing, kTooLong };

// Reads one whitespace-delimited word from standard input into name.
NameRead ReadOutputName(std::string& name) {
  int c = std::getchar();
  while (c != EOF && std::isspace(c)) c = std::getchar();
  while (c != EOF && !std::isspace(c)) {
    if (name.size() == kMaxOutputName) return NameRead::kTooLong;
    name.push_back(static_cast<char>(c));
    c = std::getchar();
  }
  return name.empty() ? NameRead::kMissing : NameRead::kOk;
}

bool SameFile(const struct stat& a, std::FILE* file) {
  struct stat b;
  return fstat(fileno(file), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when path names an existing file that is base or donor, by device and inode.
bool IsSourceFile(const std::string& path, std::FILE* base, std::FILE* donor) {
  struct stat target;
  if (stat(path.c_str(), &target) != 0) return false;
  return SameFile(target, base) || SameFile(target, donor);
}

int RunDump(std::FILE* base, std::FILE* donor, const AnimHeader& baseHeader,
            const AnimHeader& donorHeader) {
  if (!DumpBones(base, baseHeader) || !DumpBones(donor, donorHeader)) {
    Print(messages::kCannotOpenLog);
    return 0;
  }
  return 1;
}

int RunMergeToFile(std::FILE* base, std::FILE* donor, File output, const std::string& outputName,
                   const AnimHeader& baseHeader, const AnimHeader& donorHeader, bool optimize) {
  MergeOptions options;
  options.optimize = optimize;
  options.onFrameDone = [](uint32_t frame) { Print(messages::Progress(frame)); };
  MergeOutcome outcome = RunMerge(base, donor, output.get(), baseHeader, donorHeader, options);
  bool closed = std::fclose(output.release()) == 0;
  if (outcome.error == MergeError::kNone && !closed) outcome.error = MergeError::kWriteFailed;
  if (outcome.error == MergeError::kNone) return 1;
  // A partly written file must not pass for a result; a device named as output stays.
  struct stat written;
  if (outcome.error == MergeError::kWriteFailed && stat(outputName.c_str(), &written) == 0 &&
      S_ISREG(written.st_mode)) {
    std::remove(outputName.c_str());
  }
  Print(messages::MergeFailure(outcome, outputName));
  return 0;
}

}  // namespace

int RunProgram(int argc, const char* const argv[]) {
  Print(messages::kBanner);
  CommandLine line = ParseCommandLine(argc, argv);
  if (line.showUsage) {
    Print(messages::kUsage);
    return 0;
  }
  File base(std::fopen(line.basePath.c_str(), "rb"));
  File donor(std::fopen(line.donorPath.c_str(), "rb"));
  if (!base || !donor) {
    Print(messages::kFilesNotFound);
    return 0;
  }

  File output;
  std::string outputName;
  if (!line.listMode) {
    Print(messages::kPrompt);
    std::fflush(stdout);
    switch (ReadOutputName(outputName)) {
      case NameRead::kOk:
        break;
      case NameRead::kMissing:
        Print(messages::kNoOutputName);
        return 0;
      case NameRead::kTooLong:
        Print(messages::kOutputNameTooLong);
        return 0;
    }
    // Opening a source for writing would empty it before it is read.
    if (IsSourceFile(outputName, base.get(), donor.get())) {
      Print(messages::kOutputIsSource);
      return 0;
    }
    output.reset(std::fopen(outputName.c_str(), "wb"));
    if (!output) {
      Print(messages::CannotCreateOutput(outputName));
      return 0;
    }
  }

  AnimHeader baseHeader;
  AnimHeader donorHeader;
  ReadHeader(base.get(), baseHeader);
  ReadHeader(donor.get(), donorHeader);
  HeaderCheck check = CheckHeaders(baseHeader, donorHeader);
  Print(messages::HeaderCheckMessage(check));

  if (line.listMode) return RunDump(base.get(), donor.get(), baseHeader, donorHeader);
  if (check != HeaderCheck::kOk) return 0;
  return RunMergeToFile(base.get(), donor.get(), std::move(output), outputName, baseHeader,
                        donorHeader, line.optimizeMode);
}

}  // namespace bonesplice
