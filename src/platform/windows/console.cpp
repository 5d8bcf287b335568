#include "platform/console.h"

#include <algorithm>

#include "platform/windows/windows.h"

namespace bonesplice::platform {

void WriteStandardOutput(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode;
  if (GetConsoleMode(output, &mode)) {
    std::wstring wide = Wide(text);
    size_t at = 0;
    while (at < wide.size()) {
      DWORD piece = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(output, wide.data() + at, piece, &written, nullptr) || written == 0) {
        return;
      }
      at += written;
    }
    return;
  }
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  size_t at = 0;
  while (at < lines.size()) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(lines.size() - at, size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(output, lines.data() + at, piece, &written, nullptr) || written == 0) return;
    at += written;
  }
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
