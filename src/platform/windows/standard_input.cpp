#include "platform/standard_input.h"

#include "platform/unicode.h"
#include "platform/windows/windows.h"

namespace bonesplice::platform {
namespace {

// How many leading bytes of data form whole, valid UTF-8; *valid is false when a sequence
// before the last few bytes is broken.
size_t WholeUtf8(const unsigned char* data, size_t size, bool* valid) {
  size_t i = 0;
  *valid = true;
  while (i < size) {
    unsigned char c = data[i];
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0) {
      *valid = false;
      return i;
    }
    if (i + length > size) return i;  // cut by the end of the piece
    for (size_t k = 1; k < length; ++k) {
      if ((data[i + k] & 0xC0) != 0x80) {
        *valid = false;
        return i;
      }
    }
    i += length;
  }
  return i;
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
  char bytes[4096];
  DWORD got = 0;
  if (!ReadFile(input, bytes, sizeof bytes, &got, nullptr) || got == 0) return false;
  std::string piece(bytes, got);
  bool valid;
  size_t whole = WholeUtf8(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), &valid);
  // A character cut by the end of the piece: its other bytes are on their way.
  while (valid && whole < piece.size()) {
    char next;
    if (!ReadFile(input, &next, 1, &got, nullptr) || got == 0) {
      valid = false;  // cut by the end of the input: not UTF-8
      break;
    }
    piece += next;
    whole = WholeUtf8(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), &valid);
  }
  if (valid) {
    pending_ = piece;
  } else {
    // Not UTF-8: text from a console program in the console's own code page.
    UINT codePage = GetConsoleCP();
    pending_ = FromCodePage(codePage != 0 ? codePage : CP_ACP, piece.data(), piece.size());
  }
  return true;
}

}  // namespace bonesplice::platform
