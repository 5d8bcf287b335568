#include "app/run.h"

#include <bonesplice.h>

#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/command_line.h"
#include "app/dump.h"
#include "app/messages.h"
#include "merge/failure.h"
#include "merge/workers.h"
#include "platform/console.h"
#include "platform/input_file.h"
#include "platform/output_file.h"
#include "platform/standard_input.h"

namespace bonesplice {
namespace {

constexpr int kStatusDone = 1;  // a finished merge or dump
constexpr int kStatusStop = 0;  // the usage text or an error
constexpr size_t kMaxOutputName = 255;

// Console text, gathered and written at the prompt, after each batch of progress lines and at
// the end, so that thousands of progress lines cost a few writes.
class Console {
 public:
  void Print(const std::string& text) { pending_ += text; }
  void Flush() {
    platform::WriteStandardOutput(pending_);
    pending_.clear();
  }

 private:
  std::string pending_;
};

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The threads the merge may use: BONESPLICE_THREADS when it holds a positive number, else one
// per core.
unsigned ThreadCount() {
  const char* asked = std::getenv("BONESPLICE_THREADS");
  if (asked != nullptr) {
    char* end = nullptr;
    unsigned long count = std::strtoul(asked, &end, 10);
    if (end != asked && *end == '\0' && count >= 1 && count <= 1024) {
      return static_cast<unsigned>(count);
    }
  }
  return DefaultThreadCount();
}

// Reads one whitespace-delimited word from standard input into name; the message that refuses
// what was typed, if anything.
std::optional<std::string> ReadOutputName(std::string& name) {
  platform::StandardInput input;
  int c = input.ReadByte();
  while (c != -1 && IsSpace(c)) c = input.ReadByte();
  while (c != -1 && !IsSpace(c)) {
    if (name.size() == kMaxOutputName) return messages::kOutputNameTooLong;
    name.push_back(static_cast<char>(c));
    c = input.ReadByte();
  }
  if (name.empty()) return messages::kNoOutputName;
  return std::nullopt;
}

// The two inputs, opened and seen as their bytes.
struct Sources {
  platform::InputFile base;
  platform::InputFile donor;

  // Opens both; the message that refuses them, if any.
  std::optional<std::string> Open(const CommandLine& line) {
    platform::OpenStatus baseOpen = base.Open(line.basePath);
    platform::OpenStatus donorOpen = donor.Open(line.donorPath);
    if (baseOpen == platform::OpenStatus::kCannotOpen ||
        donorOpen == platform::OpenStatus::kCannotOpen) {
      return messages::kFilesNotFound;
    }
    if (baseOpen == platform::OpenStatus::kNotRegular) return messages::NotRegular(FileRole::kBase);
    if (donorOpen == platform::OpenStatus::kNotRegular) {
      return messages::NotRegular(FileRole::kDonor);
    }
    return std::nullopt;
  }
  // Makes the bytes of both visible; Unreadable tells whether that failed.
  void Load() {
    baseLoaded = base.Load();
    donorLoaded = donor.Load();
  }
  ByteView baseBytes() const { return {base.data(), base.size()}; }
  ByteView donorBytes() const { return {donor.data(), donor.size()}; }
  bool Include(const platform::FileId& id) const {
    return platform::SameFile(id, base.id()) || platform::SameFile(id, donor.id());
  }
  // An input that could not be read whole or was changed under the run's feet, if any.
  std::optional<Failure> Unreadable() const {
    if (!baseLoaded || base.failed()) return InputUnreadable{FileRole::kBase};
    if (!donorLoaded || donor.failed()) return InputUnreadable{FileRole::kDonor};
    return std::nullopt;
  }

  bool baseLoaded = false;
  bool donorLoaded = false;
};

// Opens the output named at the prompt, without emptying a source by mistake. Returns the
// message that refuses it, or nullopt once the output exists and is empty.
std::optional<std::string> OpenOutput(const std::string& name, const Sources& sources,
                                      platform::OutputFile& output) {
  if (messages::Shown(name) != name) return messages::kOutputHasControl;  // a control byte
  if (platform::IsDeviceName(name)) return messages::kOutputIsDevice;
  // Opening a source for writing would empty it before it is read; the file opened is checked
  // again, since the name may lead elsewhere by then.
  if (sources.Include(platform::IdentityOfPath(name))) return messages::kOutputIsSource;
  if (!output.Open(name)) return messages::CannotCreateOutput(name);
  if (sources.Include(output.id())) return messages::kOutputIsSource;
  if (!output.Truncate()) return messages::CannotCreateOutput(name);
  return std::nullopt;
}

// The merge's output: the output file, with the base's blocks copied from its input file.
struct FileOutput {
  platform::OutputFile& file;
  const platform::InputFile& base;
};

int BeginFile(void* context, uint64_t) {
  return static_cast<FileOutput*>(context)->file.Begin();
}

int WriteToFile(void* context, uint64_t offset, const uint8_t* data, size_t size) {
  platform::OutputFile& file = static_cast<FileOutput*>(context)->file;
  return file.TakesWritesAtOffsets() ? file.WriteAt(offset, data, size) : file.Write(data, size);
}

int CopyFromBase(void* context, uint64_t offset, uint64_t baseOffset, uint64_t length) {
  FileOutput& output = *static_cast<FileOutput*>(context);
  return output.file.TakesWritesAtOffsets()
             ? output.file.CopyFromAt(offset, output.base, baseOffset, length)
             : output.file.CopyFrom(output.base, baseOffset, length);
}

// Prints a progress line for each donor frame resolved since the last call.
struct ProgressLines {
  Console& console;
  uint32_t printed = 0;
};

void PrintProgress(void* context, uint32_t framesDone, uint32_t) {
  ProgressLines& lines = *static_cast<ProgressLines*>(context);
  for (; lines.printed < framesDone; ++lines.printed) {
    lines.console.Print(messages::Progress(lines.printed));
  }
  lines.console.Flush();
}

// Merges the sources into output and commits it; the message of the failure, if any, with the
// output as the prompt left it.
std::optional<std::string> MergeToFile(Sources& sources, platform::OutputFile& output,
                                       const std::string& outputName, bool optimize,
                                       Console& console) {
  ProgressLines lines{console};
  bonesplice_merge_options options{};
  options.optimize = optimize;
  options.threads = ThreadCount();
  options.output_name = outputName.c_str();
  options.progress = PrintProgress;
  options.progress_context = &lines;
  FileOutput file{output, sources.base};
  bonesplice_output callbacks{};
  callbacks.context = &file;
  callbacks.write = WriteToFile;
  callbacks.begin = BeginFile;
  callbacks.copy_from_base = CopyFromBase;
  callbacks.at_offsets = output.TakesWritesAtOffsets();
  bonesplice_result result;
  ByteView base = sources.baseBytes();
  ByteView donor = sources.donorBytes();
  bonesplice_code code =
      bonesplice_merge(base.data, base.size, donor.data, donor.size, &options, &callbacks, &result);
  std::optional<std::string> refusal;
  if (code != BONESPLICE_OK) refusal = messages::FromLibrary(result.message);
  // A file that another program changed during the run gives no result, whatever came of it
  // but running out of memory.
  std::optional<Failure> failure = sources.Unreadable();
  if (failure && code == BONESPLICE_OUT_OF_MEMORY) failure.reset();
  if (!failure && !refusal && !output.Commit()) {
    if (output.keptTemporary().empty()) {
      failure = OutputUnwritable{};
    } else {
      failure = OutputNotReplaced{output.keptTemporary()};
    }
  }
  if (failure) refusal = messages::MessageOf(*failure, outputName);
  if (refusal) output.Abandon();
  return refusal;
}

// Appends the reports of both files to bone.log, after the message of a failed header check.
int Dump(const Sources& sources, Console& console) {
  ByteView base = sources.baseBytes();
  ByteView donor = sources.donorBytes();
  bonesplice_result result;
  if (bonesplice_check_headers(base.data, base.size, donor.data, donor.size, &result) !=
      BONESPLICE_OK) {
    console.Print(messages::FromLibrary(result.message));
  }
  if (auto refusal = DumpBones(base, donor, {sources.base.id(), sources.donor.id()})) {
    console.Print(*refusal);
    return kStatusStop;
  }
  if (auto failure = sources.Unreadable()) {
    console.Print(messages::MessageOf(*failure, ""));
    return kStatusStop;
  }
  return kStatusDone;
}

int Run(const std::vector<std::string>& args, bool& listMode, Console& console) {
  console.Print(messages::kBanner);
  CommandLine line = ParseCommandLine(args);
  if (line.showUsage) {
    console.Print(messages::kUsage);
    return kStatusStop;
  }
  listMode = line.listMode;
  Sources sources;
  if (auto refusal = sources.Open(line)) {
    console.Print(*refusal);
    return kStatusStop;
  }
  std::string outputName;
  platform::OutputFile output;
  if (!line.listMode) {
    console.Print(messages::kPrompt);
    console.Flush();
    std::optional<std::string> refusal = ReadOutputName(outputName);
    if (!refusal) refusal = OpenOutput(outputName, sources, output);
    if (refusal) {
      console.Print(*refusal);
      return kStatusStop;
    }
  }
  sources.Load();
  if (auto failure = sources.Unreadable()) {
    console.Print(messages::MessageOf(*failure, outputName));
    return kStatusStop;
  }
  if (line.listMode) return Dump(sources, console);
  if (auto refusal = MergeToFile(sources, output, outputName, line.optimizeMode, console)) {
    console.Print(*refusal);
    return kStatusStop;
  }
  return kStatusDone;
}

}  // namespace

int RunProgram(const std::vector<std::string>& args) {
  Console console;
  bool listMode = false;
  int status = kStatusStop;
  // The one place where running out of memory is caught: whatever was under way is undone by
  // its owner on the way here (a temporary output removes itself).
  try {
    status = Run(args, listMode, console);
  } catch (const std::bad_alloc&) {
    console.Print(listMode ? messages::kDumpOutOfMemory : messages::kOutOfMemory);
  } catch (const std::length_error&) {
    console.Print(listMode ? messages::kDumpOutOfMemory : messages::kOutOfMemory);
  }
  // Started from Explorer, the window would close before the result could be read.
  if (platform::IsOnlyProcessOfConsole()) {
    console.Print(messages::kPressEnter);
    console.Flush();
    platform::WaitForEnter();
  }
  console.Flush();
  return status;
}

}  // namespace bonesplice
