// The Windows half's one way of including the system's API: lean, and without the min and max
// macros that would break std::min and std::max. Also the conversions to UTF-16 that every
// Windows call taking a name needs (from UTF-16, platform/unicode.h).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>

namespace bonesplice::platform {

// UTF-8 to UTF-16; text in a code page to UTF-8.
std::wstring Wide(const std::string& text);
std::string FromCodePage(UINT codePage, const char* data, size_t size);

inline HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

inline intptr_t FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

}  // namespace bonesplice::platform
