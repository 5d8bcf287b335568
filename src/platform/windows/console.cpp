#include "platform/console.h"

#include <algorithm>

#include "platform/windows/windows.h"

namespace bonesplice::platform {

namespace {

// Hands all of text to write(data, count, &written) in pieces of at most most units, until a
// write fails.
template <typename Text, typename Write>
void WriteAll(const Text& text, size_t most, Write write) {
  for (size_t at = 0; at < text.size();) {
    DWORD written = 0;
    DWORD piece = static_cast<DWORD>(std::min(text.size() - at, most));
    if (!write(text.data() + at, piece, &written) || written == 0) return;
    at += written;
  }
}

}  // namespace

void WriteStandardOutput(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  DWORD mode;
  if (GetConsoleMode(output, &mode)) {
    WriteAll(Wide(text), 8192, [&](const wchar_t* data, DWORD count, DWORD* written) {
      return WriteConsoleW(output, data, count, written, nullptr);
    });
    return;
  }
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  WriteAll(lines, size_t{1} << 30, [&](const char* data, DWORD count, DWORD* written) {
    return WriteFile(output, data, count, written, nullptr);
  });
}

bool IsOnlyProcessOfConsole() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForEnter() {
  HANDLE console =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  FlushConsoleInputBuffer(console);
  for (;;) {
    wchar_t c = 0;
    DWORD got = 0;
    if (!ReadConsoleW(console, &c, 1, &got, nullptr) || got == 0 || c == L'\r' || c == L'\n') {
      break;
    }
  }
  CloseHandle(console);
}

}  // namespace bonesplice::platform
