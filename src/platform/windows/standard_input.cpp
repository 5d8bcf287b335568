#include "platform/standard_input.h"

#include "platform/unicode.h"
#include "platform/windows/windows.h"

namespace bonesplice::platform {
namespace {

constexpr size_t kMostPiped = size_t{64} << 10;  // far more than any name the prompt takes

bool IsUtf8(const char* text, size_t size) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(size), nullptr,
                             0) > 0;
}

}  // namespace

bool StandardInput::Refill() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  DWORD mode;
  if (GetConsoleMode(input, &mode)) {
    wchar_t wide[1024];
    DWORD got = 0;
    if (!ReadConsoleW(input, wide, 1024, &got, nullptr) || got == 0) return false;
    if (wide[0] == 0x1A) return false;  // Ctrl+Z at the start of a line ends console input
    pending_ = Utf8FromWide(wide, got);
    return true;
  }
  // Piped: read to the end of a line, which no character straddles, then taken as UTF-8 when
  // its whole lines are (a read may end inside a character of the line after them, whose bytes
  // pass as they are), else as text from a console program in the console's own code page.
  char bytes[4096];
  DWORD got = 0;
  while (pending_.find('\n') == std::string::npos && pending_.size() < kMostPiped &&
         ReadFile(input, bytes, sizeof bytes, &got, nullptr) && got > 0) {
    pending_.append(bytes, got);
  }
  if (pending_.empty()) return false;
  size_t lineEnd = pending_.rfind('\n');
  if (!IsUtf8(pending_.data(), lineEnd == std::string::npos ? pending_.size() : lineEnd + 1)) {
    UINT codePage = GetConsoleCP();
    pending_ = FromCodePage(codePage != 0 ? codePage : CP_ACP, pending_.data(), pending_.size());
  }
  return true;
}

}  // namespace bonesplice::platform
