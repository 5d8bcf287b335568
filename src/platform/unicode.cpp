#include "platform/unicode.h"

#include <cstdint>

namespace bonesplice::platform {
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

}  // namespace

std::string Utf8FromWide(const wchar_t* text, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    uint32_t unit = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < size) {
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

}  // namespace bonesplice::platform
