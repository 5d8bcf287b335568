#include "platform/unicode.h"

#include "platform/windows/windows.h"

namespace bonesplice::platform {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string FromCodePage(UINT codePage, const char* data, size_t size) {
  if (size == 0) return {};
  int length = MultiByteToWideChar(codePage, 0, data, static_cast<int>(size), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, data, static_cast<int>(size), wide.data(), length);
  return Utf8FromWide(wide.data(), wide.size());
}

}  // namespace bonesplice::platform
