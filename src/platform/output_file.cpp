#include "platform/output_file.h"

#include "platform/random_key.h"

namespace bonesplice::platform {
namespace {

// Bytes gathered before a write to the output reaches the system.
constexpr size_t kOutputBuffer = size_t{128} << 10;

}  // namespace

std::string TemporaryName(const std::string& target, bool shortName) {
  static constexpr char kSuffix[] = ".bonesplice-XXXXXX";
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  size_t folderEnd = target.find_last_of("/\\") + 1;  // npos + 1: no folder, 0
  // Folders take names of at most 255 bytes (255 UTF-16 units on Windows, never more than the
  // UTF-8 bytes of the same name).
  shortName = shortName || target.size() - folderEnd + sizeof kSuffix - 1 > 255;
  uint64_t bits = RandomKey();
  std::string name = target;
  if (shortName) name.erase(folderEnd);
  name += ".bonesplice-";
  for (int i = 0; i < 6; ++i) {
    name += kLetters[bits % 36];
    bits /= 36;
  }
  return name;
}

bool OutputFile::Write(const uint8_t* data, size_t size) {
  if (failed_) return false;
  if (buffer_.size() + size > kOutputBuffer) {
    if (!Flush()) return false;
    if (size >= kOutputBuffer) {
      failed_ = !WriteOut(data, size);
      return !failed_;
    }
  }
  if (buffer_.capacity() < kOutputBuffer) buffer_.reserve(kOutputBuffer);
  buffer_.insert(buffer_.end(), data, data + size);
  return true;
}

bool OutputFile::CopyFrom(const InputFile& input, uint64_t offset, uint64_t length) {
  return Write(input.data() + offset, static_cast<size_t>(length));
}

bool OutputFile::Flush() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    failed_ = !WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  return !failed_;
}

}  // namespace bonesplice::platform
