// Every text the program shows on the console. Each message begins with "\n" so that it starts
// a new line.
#pragma once

#include <cstdint>
#include <string>

#include "merge/failure.h"

namespace bonesplice::messages {

extern const char kBanner[];
extern const char kUsage[];
extern const char kFilesNotFound[];
extern const char kPrompt[];
extern const char kOutputNameTooLong[];
extern const char kNoOutputName[];
extern const char kOutputHasControl[];
extern const char kOutputIsDevice[];
extern const char kOutputIsSource[];
extern const char kCannotOpenLog[];
extern const char kLogIsSource[];
extern const char kOutOfMemory[];
extern const char kDumpOutOfMemory[];
extern const char kPressEnter[];

// text with every byte below 0x20 and 0x7F shown as \xNN, so that names from files or the
// prompt cannot move the cursor, clear the screen or break a message across lines.
std::string Shown(const std::string& text);

std::string NotRegular(FileRole file);
std::string CannotCreateOutput(const std::string& outputName);
std::string Progress(uint32_t frame);

// The message for a merge that failed; outputName names the output file.
std::string MessageOf(const Failure& failure, const std::string& outputName);

}  // namespace bonesplice::messages
