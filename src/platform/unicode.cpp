#include "platform/unicode.h"

#include <cstdint>

namespace bonesplice::platform {

std::string Utf8FromWide(const wchar_t* text, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    uint32_t code = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code <= 0xDBFF && i + 1 < size) {
      uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    // The lead byte holds what the continuation bytes (six bits each) leave.
    int continuations = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static constexpr uint8_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[continuations] | code >> (6 * continuations));
    for (int k = continuations - 1; k >= 0; --k) {
      out += static_cast<char>(0x80 | (code >> (6 * k) & 0x3F));
    }
  }
  return out;
}

}  // namespace bonesplice::platform
