#include "glagen/whole_file.h"

#include <cerrno>
#include <cstdio>

namespace glagen {

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  if (stream == nullptr) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  written = std::fclose(stream) == 0 && written;
  if (!written) {
    int error = errno;
    std::remove(path.c_str());
    errno = error;
  }
  return written;
}

}  // namespace glagen
