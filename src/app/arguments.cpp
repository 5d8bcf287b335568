#include "app/arguments.h"

#include <cstdint>
#include <cwchar>

namespace bonesplice {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(uint32_t code, std::string& out) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Utf8Of(const wchar_t* text) {
  std::string out;
  size_t length = std::wcslen(text);
  for (size_t i = 0; i < length; ++i) {
    uint32_t unit = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
      uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(unit, out);
  }
  return out;
}

}  // namespace

std::vector<std::string> ArgumentsFromWide(int argc, const wchar_t* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8Of(argv[i]));
  return arguments;
}

}  // namespace bonesplice
