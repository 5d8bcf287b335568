#include "app/dump.h"

#include <bonesplice.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/messages.h"
#include "platform/log_file.h"

namespace bonesplice {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The report's pieces, appended to the log.
int WriteToLog(void* context, uint64_t, const uint8_t* data, size_t size) {
  return std::fwrite(data, 1, size, static_cast<std::FILE*>(context)) == size;
}

}  // namespace

std::optional<std::string> DumpBones(ByteView base, ByteView donor,
                                     const std::vector<platform::FileId>& sources) {
  platform::FileId logId;
  std::unique_ptr<std::FILE, FileCloser> log(platform::OpenForAppending(kBoneLogName, logId));
  if (!log) return messages::kCannotOpenLog;
  // Opening for appending leaves a file as it was; only then can its identity be trusted.
  for (const platform::FileId& source : sources) {
    if (platform::SameFile(logId, source)) return messages::kLogIsSource;
  }
  bonesplice_output output{};
  output.context = log.get();
  output.write = WriteToLog;
  bonesplice_result result;
  bonesplice_code code =
      bonesplice_dump(base.data, base.size, donor.data, donor.size, &output, &result);
  bool closed = std::fclose(log.release()) == 0;
  if (code == BONESPLICE_OUT_OF_MEMORY) return messages::FromLibrary(result.message);
  if (code != BONESPLICE_OK || !closed) return messages::kCannotOpenLog;
  return std::nullopt;
}

}  // namespace bonesplice
