// The console: text to standard output, and the window a program started from Explorer gets.
#pragma once

#include <string>

namespace bonesplice::platform {

// Writes text (UTF-8) to standard output, all of it or until a write fails; failures are
// ignored, so that a closed console never stops the program. On Windows a console gets it as
// wide text, so that names outside ASCII show as they are, and any other standard output gets
// CRLF line ends, as a text stream would.
void WriteStandardOutput(const std::string& text);

// True on Windows when this process is the only one attached to its console, that is when it
// was started from Explorer and its window closes as soon as it ends; never on POSIX.
bool IsOnlyProcessOfConsole();

// Waits until Enter is pressed on the console (Windows); returns at once on POSIX.
void WaitForEnter();

}  // namespace bonesplice::platform
