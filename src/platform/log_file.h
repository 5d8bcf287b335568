// A text file that reports are appended to.
#pragma once

#include <cstdio>
#include <string>

#include "platform/file_id.h"

namespace bonesplice::platform {

// Opens path, a name in UTF-8, as a text stream for appending only, creating it when missing;
// its earlier content stays and every write goes to its end. A FIFO that nobody reads is
// refused at once rather than waited for. On Windows each "\n" written becomes CRLF. nullptr
// when it cannot be opened; otherwise id is the identity of the file opened.
std::FILE* OpenForAppending(const std::string& path, FileId& id);

}  // namespace bonesplice::platform
