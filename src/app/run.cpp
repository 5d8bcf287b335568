#include "app/run.h"

#include <new>
#include <stdexcept>
#include <string>

#include "app/command_line.h"
#include "app/dump.h"
#include "app/messages.h"
#include "format/header.h"
#include "merge/pipeline.h"
#include "platform/platform.h"

namespace bonesplice {
namespace {

constexpr size_t kMaxOutputName = 255;

// Console text is gathered and written at the prompt, after each batch of progress lines and
// at the end, so that thousands of progress lines cost a few writes.
std::string consoleText;

void Print(const std::string& text) {
  consoleText += text;
}

void FlushConsole() {
  platform::WriteStandardOutput(consoleText);
  consoleText.clear();
}

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

enum class NameRead { kOk, kMissing, kTooLong };

// Reads one whitespace-delimited word from standard input into name.
NameRead ReadOutputName(std::string& name) {
  int c = platform::ReadStandardInputByte();
  while (c != -1 && IsSpace(c)) c = platform::ReadStandardInputByte();
  while (c != -1 && !IsSpace(c)) {
    if (name.size() == kMaxOutputName) return NameRead::kTooLong;
    name.push_back(static_cast<char>(c));
    c = platform::ReadStandardInputByte();
  }
  return name.empty() ? NameRead::kMissing : NameRead::kOk;
}

bool HoldsControlCharacter(const std::string& text) {
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// The two inputs, opened and seen as their bytes.
struct Sources {
  platform::InputFile base;
  platform::InputFile donor;
  platform::LoadStatus baseLoad = platform::LoadStatus::kOk;
  platform::LoadStatus donorLoad = platform::LoadStatus::kOk;

  ByteView baseBytes() const { return {base.data(), base.size()}; }
  ByteView donorBytes() const { return {donor.data(), donor.size()}; }
  bool Include(const platform::FileId& id) const {
    return platform::SameFile(id, base.id()) || platform::SameFile(id, donor.id());
  }
  // The message for an input that could not be seen whole or was changed under the run's
  // feet; empty when both are sound.
  std::string Failure(const char* outOfMemory) const {
    for (bool donorFile : {false, true}) {
      const platform::InputFile& file = donorFile ? donor : base;
      platform::LoadStatus load = donorFile ? donorLoad : baseLoad;
      if (load == platform::LoadStatus::kOutOfMemory) return outOfMemory;
      if (load == platform::LoadStatus::kReadFailed || file.failed()) {
        return messages::CannotRead(donorFile);
      }
    }
    return "";
  }
};

// Opens the output named at the prompt, without emptying a source by mistake. Returns the
// message that refuses it, or an empty text once the output exists and is empty.
std::string OpenOutput(const std::string& name, const Sources& sources,
                       platform::OutputFile& output) {
  if (HoldsControlCharacter(name)) return messages::kOutputHasControl;
  if (platform::IsDeviceName(name)) return messages::kOutputIsDevice;
  // Opening a source for writing would empty it before it is read; the file opened is checked
  // again, since the name may lead elsewhere by then.
  if (sources.Include(platform::IdentityOfPath(name))) return messages::kOutputIsSource;
  if (!output.Open(name)) return messages::CannotCreateOutput(name);
  if (sources.Include(output.id())) return messages::kOutputIsSource;
  if (!output.Truncate()) return messages::CannotCreateOutput(name);
  return "";
}

int RunDump(const Sources& sources, const AnimHeader& baseHeader, const AnimHeader& donorHeader) {
  const std::vector<platform::FileId> ids = {sources.base.id(), sources.donor.id()};
  for (bool donorFile : {false, true}) {
    DumpStatus status = DumpBones(donorFile ? sources.donorBytes() : sources.baseBytes(),
                                  donorFile ? donorHeader : baseHeader, ids);
    if (status == DumpStatus::kCannotOpenLog) {
      Print(messages::kCannotOpenLog);
      return 0;
    }
    if (status == DumpStatus::kLogIsSource) {
      Print(messages::kLogIsSource);
      return 0;
    }
    if (status == DumpStatus::kOutOfMemory) {
      Print(messages::kDumpOutOfMemory);
      return 0;
    }
  }
  std::string failure = sources.Failure(messages::kDumpOutOfMemory);
  if (!failure.empty()) {
    Print(failure);
    return 0;
  }
  return 1;
}

// The output file as the merge writes it: a temporary beside it, or the file itself.
class FileOutput : public MergeOutput {
 public:
  FileOutput(platform::OutputFile& file, platform::InputFile& base) : file_(file), base_(base) {}
  void Begin() override { file_.Begin(); }
  bool Write(const uint8_t* data, size_t size) override { return file_.Write(data, size); }
  bool CopyFromBase(uint64_t offset, uint64_t length) override {
    return file_.CopyFrom(base_, offset, length);
  }
  bool CanRewriteHeader() const override { return file_.seekable(); }
  bool RewriteHeader(const uint8_t* data, size_t size) override {
    return file_.RewriteStart(data, size);
  }

 private:
  platform::OutputFile& file_;
  platform::InputFile& base_;
};

int RunMergeToFile(Sources& sources, platform::OutputFile& output, const std::string& outputName,
                   bool optimize) {
  MergePlan plan;
  MergeOutcome outcome = PlanMerge(sources.baseBytes(), sources.donorBytes(), plan);
  if (outcome.error == MergeError::kNone) {
    FileOutput file(output, sources.base);
    MergeOptions options;
    options.optimize = optimize;
    options.hashKey = {platform::RandomKey(), platform::RandomKey()};
    options.onFramesDone = [](uint32_t first, uint32_t count) {
      for (uint32_t i = 0; i < count; ++i) Print(messages::Progress(first + i));
      FlushConsole();
    };
    outcome = RunMerge(plan, sources.baseBytes(), sources.donorBytes(), file, options);
  }
  // A file that another program changed during the run gives no result, whatever came of it.
  std::string failure = sources.Failure(messages::kOutOfMemory);
  if (!failure.empty()) {
    output.Abandon();
    Print(failure);
    return 0;
  }
  if (outcome.error == MergeError::kNone && !output.Commit()) {
    outcome.error = MergeError::kWriteFailed;
  }
  if (outcome.error == MergeError::kNone) return 1;
  output.Abandon();
  Print(messages::MergeFailure(outcome, outputName));
  return 0;
}

int Run(const std::vector<std::string>& args, bool& listMode) {
  Print(messages::kBanner);
  CommandLine line = ParseCommandLine(args);
  if (line.showUsage) {
    Print(messages::kUsage);
    return 0;
  }
  listMode = line.listMode;
  Sources sources;
  platform::OpenStatus baseOpen = sources.base.Open(line.basePath);
  platform::OpenStatus donorOpen = sources.donor.Open(line.donorPath);
  if (baseOpen == platform::OpenStatus::kCannotOpen ||
      donorOpen == platform::OpenStatus::kCannotOpen) {
    Print(messages::kFilesNotFound);
    return 0;
  }
  if (baseOpen == platform::OpenStatus::kNotRegular) {
    Print(messages::NotRegular(false));
    return 0;
  }
  if (donorOpen == platform::OpenStatus::kNotRegular) {
    Print(messages::NotRegular(true));
    return 0;
  }
  sources.baseLoad = sources.base.Load();
  sources.donorLoad = sources.donor.Load();

  platform::OutputFile output;
  std::string outputName;
  if (!line.listMode) {
    Print(messages::kPrompt);
    FlushConsole();
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
    std::string refusal = OpenOutput(outputName, sources, output);
    if (!refusal.empty()) {
      Print(refusal);
      return 0;
    }
  }

  std::string failure =
      sources.Failure(line.listMode ? messages::kDumpOutOfMemory : messages::kOutOfMemory);
  if (!failure.empty()) {
    Print(failure);
    return 0;
  }
  AnimHeader baseHeader;
  AnimHeader donorHeader;
  ReadHeader(sources.baseBytes(), baseHeader);
  ReadHeader(sources.donorBytes(), donorHeader);
  HeaderCheck check = CheckHeaders(baseHeader, donorHeader);
  Print(messages::HeaderCheckMessage(check));

  if (line.listMode) return RunDump(sources, baseHeader, donorHeader);
  if (check != HeaderCheck::kOk) return 0;
  return RunMergeToFile(sources, output, outputName, line.optimizeMode);
}

}  // namespace

int RunProgram(const std::vector<std::string>& args) {
  bool listMode = false;
  int status = 0;
  try {
    status = Run(args, listMode);
  } catch (const std::bad_alloc&) {
    Print(listMode ? messages::kDumpOutOfMemory : messages::kOutOfMemory);
  } catch (const std::length_error&) {
    Print(listMode ? messages::kDumpOutOfMemory : messages::kOutOfMemory);
  }
  // Started from Explorer, the window would close before the result could be read.
  if (platform::IsOnlyProcessOfConsole()) {
    Print(messages::kPressEnter);
    FlushConsole();
    platform::WaitForEnter();
  }
  FlushConsole();
  return status;
}

}  // namespace bonesplice
