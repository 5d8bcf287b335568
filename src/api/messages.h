// The texts of the merge's refusals and of running out of memory, shared by the library's
// callers and the console program. Each message begins with "\n", as the console shows it, so
// that it starts a new line; the library hands them out without it.
#pragma once

#include <string>

#include "merge/failure.h"

namespace bonesplice::messages {

extern const char kOutOfMemory[];
extern const char kDumpOutOfMemory[];
extern const char kOutputNameTooLong[];

// text with every byte below 0x20 and 0x7F shown as \xNN, so that names from files or the
// prompt cannot move the cursor, clear the screen or break a message across lines.
std::string Shown(const std::string& text);

// "first" or "second", as the messages name the base and the donor.
std::string FileWord(FileRole file);

// The message for a merge that failed; outputName names the output file.
std::string MessageOf(const Failure& failure, const std::string& outputName);

}  // namespace bonesplice::messages
