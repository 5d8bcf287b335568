// Text from the system's wide strings as UTF-8, the one encoding the rest of the program uses.
#pragma once

#include <cstddef>
#include <string>

namespace bonesplice::platform {

// size code units of wide text as UTF-8: UTF-16 where wchar_t has 16 bits, as on Windows,
// UTF-32 elsewhere. A code unit that encodes no character becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* text, size_t size);

}  // namespace bonesplice::platform
