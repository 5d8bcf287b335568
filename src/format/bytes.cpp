#include "format/bytes.h"

#include <sys/types.h>

#include <cstring>
#include <limits>

namespace bonesplice {

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FloatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

size_t StreamReader::ReadBytes(uint8_t* out, size_t count) {
  if (exhausted_ || count == 0) return 0;
  size_t got = std::fread(out, 1, count, stream_);
  if (got < count) exhausted_ = true;
  return got;
}

uint32_t StreamReader::ReadWord() {
  uint8_t bytes[4];
  if (ReadBytes(bytes, sizeof bytes) < sizeof bytes) return 0xFFFFFFFFu;
  return LoadU32(bytes);
}

std::optional<uint64_t> StreamSize(std::FILE* stream) {
  off_t saved = ftello(stream);
  if (saved < 0 || fseeko(stream, 0, SEEK_END) != 0) return std::nullopt;
  off_t end = ftello(stream);
  if (fseeko(stream, saved, SEEK_SET) != 0 || end < 0) return std::nullopt;
  return static_cast<uint64_t>(end);
}

bool SeekTo(std::FILE* stream, uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool ReadBlock(std::FILE* stream, uint64_t offset, size_t length, ByteBlock& block) {
  block.resize(length);
  if (!SeekTo(stream, offset)) return false;
  return length == 0 || std::fread(block.data(), 1, length, stream) == length;
}

bool WriteBlock(std::FILE* stream, const uint8_t* data, size_t length) {
  return length == 0 || std::fwrite(data, 1, length, stream) == length;
}

}  // namespace bonesplice
