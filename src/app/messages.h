// Every text the program shows on the console. Each message begins with "\n" so that it starts
// a new line.
#pragma once

#include <cstdint>
#include <string>

#include "format/header.h"
#include "merge/pipeline.h"

namespace bonesplice::messages {

extern const char kBanner[];
extern const char kUsage[];
extern const char kFilesNotFound[];
extern const char kPrompt[];
extern const char kOutputNameTooLong[];
extern const char kNoOutputName[];
extern const char kOutputIsSource[];
extern const char kSecondHasNoFrames[];
extern const char kNoBones[];
extern const char kTooLarge[];
extern const char kCannotOpenLog[];
extern const char kLogIsSource[];
extern const char kOutOfMemory[];
extern const char kDumpOutOfMemory[];
extern const char kOutputHasControl[];
extern const char kOutputIsDevice[];
extern const char kPressEnter[];

// text with every byte below 0x20 and 0x7F shown as \xNN, so that names from files or the
// prompt cannot move the cursor, clear the screen or break a message across lines.
std::string Shown(const std::string& text);

// "first" or "second", as the messages name the base and the donor.
const char* FileWord(bool donor);

std::string NotRegular(bool donor);
std::string CannotCreateOutput(const std::string& name);
std::string CannotWriteOutput(const std::string& name);
std::string CannotRead(bool donor);
std::string Damaged(bool donor, const std::string& what);
std::string MissingBone(const std::string& name);
std::string BadFrameIndex(uint64_t frame, uint32_t index, uint64_t count);
std::string Progress(uint32_t frame);

// The message for a merge that did not finish; outputName names the output file.
std::string MergeFailure(const MergeOutcome& outcome, const std::string& outputName);

// The message for a failed header check; empty for kOk.
const char* HeaderCheckMessage(HeaderCheck check);

}  // namespace bonesplice::messages
