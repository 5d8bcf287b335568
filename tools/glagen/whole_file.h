// Whole files read into memory and written from it, for the generator's programs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glagen {

// Every byte of the file at path; nullopt when it cannot be opened or read (errno tells why).
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

// Creates or empties the file at path and writes bytes to it. False when that fails (errno
// tells why); what was written is then removed, so no partial file is left behind.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace glagen
