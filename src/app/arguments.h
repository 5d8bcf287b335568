// The command-line arguments as UTF-8, whatever form the system hands them in.
#pragma once

#include <string>
#include <vector>

namespace bonesplice {

// The arguments of a wide entry point (argv[0] included) as UTF-8: UTF-16 where wchar_t has 16
// bits, as on Windows, UTF-32 elsewhere. A code unit that encodes no character becomes U+FFFD.
std::vector<std::string> ArgumentsFromWide(int argc, const wchar_t* const* argv);

}  // namespace bonesplice
