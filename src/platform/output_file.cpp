#include "platform/output_file.h"

#include "platform/random_key.h"
#include "platform/signals.h"

namespace bonesplice::platform {
namespace {

// Bytes gathered before a write to the output reaches the system.
constexpr size_t kOutputBuffer = size_t{128} << 10;
constexpr int kTemporaryAttempts = 16;

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

OutputFile::~OutputFile() {
  if (begun_) Abandon();
  CloseOutput();
}

bool OutputFile::Begin() {
  begun_ = true;
  if (!regular_) return true;  // a device or a FIFO: written in place, nothing to empty
  bool shortName = false;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string path = TemporaryName(target_, shortName);
    RemoveOnSignal(path);
    Creation creation = CreateTemporary(path);
    if (creation == Creation::kCreated) {
      temporaryPath_ = path;
      return true;
    }
    ClearSignalCleanup();
    if (creation == Creation::kExists) continue;
    if (creation == Creation::kNameTooLong && !shortName) {
      shortName = true;
      continue;
    }
    if (creation == Creation::kFolderRefuses) {
      // The folder refuses new files, but the output itself was opened for writing.
      EmptyOnSignal(handle_);
      return true;
    }
    break;  // no descriptor, inode, space or quota left: nothing is written
  }
  begun_ = false;
  return false;
}

bool OutputFile::Commit() {
  bool written = Flush();
  begun_ = false;
  if (temporaryPath_.empty()) {
    if (!written) Truncate();  // what was written in place before the failure goes too
    bool closed = CloseOutput();
    ClearSignalCleanup();
    return written && closed;
  }
  bool finished = FinishTemporary() && written;
  bool replaced = finished && ReplaceOutput();
  bool copied = false;
  if (finished && !replaced) {
    // The replace is refused (a sticky folder, a mount point, another program holding the
    // output open) while the output takes writes: the finished merge goes there in place, or
    // stays where it is.
    copied = CopyTemporaryInPlace();
    if (!copied) Truncate();
    copied = CloseOutput() && copied;
    if (!copied) kept_ = temporaryPath_;
  }
  CloseOutput();
  ClearSignalCleanup();
  if (!replaced && kept_.empty()) RemoveTemporary();
  temporaryPath_.clear();
  return replaced || copied;
}

void OutputFile::Abandon() {
  buffer_.clear();
  begun_ = false;
  ClearSignalCleanup();
  if (!temporaryPath_.empty()) {
    CloseTemporary();
    RemoveTemporary();
    temporaryPath_.clear();
    return;
  }
  if (handle_ != -1) Truncate();
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

bool OutputFile::WriteOut(const uint8_t* data, size_t size) {
  OutputWrite held;
  if (!held.allowed()) return false;
  while (size > 0) {
    int64_t written = WriteSome(data, size, nullptr);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::WriteAt(uint64_t at, const uint8_t* data, size_t size) {
  OutputWrite held;
  if (!held.allowed()) return false;
  while (size > 0 && !failed_) {
    int64_t written = WriteSome(data, size, &at);
    if (written <= 0) {
      failed_ = true;
      break;
    }
    data += written;
    at += static_cast<uint64_t>(written);
    size -= static_cast<size_t>(written);
  }
  return !failed_;
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
