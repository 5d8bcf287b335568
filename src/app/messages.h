// Every text the program shows on the console besides those of the merge's refusals
// (api/messages.h). Each message begins with "\n" so that it starts a new line.
#pragma once

#include <cstdint>
#include <string>

#include "api/messages.h"
#include "merge/failure.h"

namespace bonesplice::messages {

extern const char kBanner[];
extern const char kUsage[];
extern const char kFilesNotFound[];
extern const char kPrompt[];
extern const char kNoOutputName[];
extern const char kOutputHasControl[];
extern const char kOutputIsDevice[];
extern const char kOutputIsSource[];
extern const char kCannotOpenLog[];
extern const char kLogIsSource[];
extern const char kPressEnter[];

std::string NotRegular(FileRole file);
std::string CannotCreateOutput(const std::string& outputName);
std::string Progress(uint32_t frame);
// A message of the library (bonesplice.h) as the console shows it: on a line of its own.
std::string FromLibrary(const char* message);

}  // namespace bonesplice::messages
