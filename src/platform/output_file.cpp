#include "platform/output_file.h"

#include "platform/ending.h"
#include "platform/random_key.h"

namespace bonesplice::platform {
namespace {

// Bytes gathered before a write to the output reaches the system; also the piece in which a
// finished temporary is copied into the output.
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
  Close(handle_);
}

bool OutputFile::Truncate() {
  return !regular_ || EmptyFile(handle_);
}

bool OutputFile::Begin() {
  begun_ = true;
  if (!regular_) return true;  // a device or a FIFO: written in place, nothing to empty
  bool shortName = false;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string path = TemporaryName(target_, shortName);
    Creation creation = Creation::kFailed;
    // Made and handed to the end in one step: an end before it finds no file, one after it
    // removes the file.
    TheEnd().HoldingOff([&] {
      creation = CreateTemporary(path);
      if (creation != Creation::kCreated) return;
      temporaryPath_ = path;
      TheEnd().RemoveAtEnd(temporaryPath_.c_str());
    });
    if (creation == Creation::kCreated) return true;
    if (creation == Creation::kExists) continue;
    if (creation == Creation::kNameTooLong && !shortName) {
      shortName = true;
      continue;
    }
    if (creation == Creation::kFolderRefuses) {
      // The folder refuses new files, but the output itself was opened for writing.
      TheEnd().HoldingOff([&] { TheEnd().EmptyAtEnd(handle_); });
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
    LetGo(false);              // before the handle is closed and reused
    return Close(handle_) && written;
  }
  TakeOutputPermissions();
  bool finished = Close(temp_) && written;
  bool replaced = false;
  if (finished) {
    TheEnd().HoldingOff([&] {
      replaced = ReplaceOutput();
      if (replaced) TheEnd().Clear();
    });
  }
  bool copied = false;
  if (finished && !replaced) {
    // The replace is refused (a sticky folder, a mount point, another program holding the
    // output open) while the output takes writes: the finished merge goes there in place, or
    // stays where it is.
    copied = CopyTemporaryInPlace();
    if (!copied) Truncate();
    TheEnd().HoldingOff([] { TheEnd().EmptyAtEnd(-1); });  // before the handle is closed
    copied = Close(handle_) && copied;
    if (!copied) kept_ = temporaryPath_;
  }
  Close(handle_);
  // The temporary goes, unless it was renamed or holds a merge that could not be put in place.
  LetGo(!replaced && kept_.empty());
  return replaced || copied;
}

void OutputFile::Abandon() {
  buffer_.clear();
  begun_ = false;
  Close(temp_);
  if (temporaryPath_.empty() && handle_ != -1) Truncate();
  LetGo(!temporaryPath_.empty());
}

void OutputFile::LetGo(bool removeTemporary) {
  TheEnd().HoldingOff([&] {
    if (removeTemporary) RemoveFile(temporaryPath_.c_str());
    TheEnd().Clear();
  });
  temporaryPath_.clear();
}

bool OutputFile::CopyTemporaryInPlace() {
  InputFile merged;
  if (handle_ == -1 || merged.Open(temporaryPath_) != OpenStatus::kOk) return false;
  TheEnd().HoldingOff([&] { TheEnd().EmptyAtEnd(handle_); });
  if (!Truncate()) return false;
  buffer_.resize(kOutputBuffer);
  bool copied = true;
  for (uint64_t at = 0; copied;) {
    int64_t got = merged.ReadAt(at, buffer_.data(), buffer_.size());
    if (got <= 0) {
      copied = got == 0;
      break;
    }
    copied = WriteAll(buffer_.data(), static_cast<size_t>(got), &at);
  }
  buffer_.clear();
  return copied;
}

bool OutputFile::Write(const uint8_t* data, size_t size) {
  if (failed_) return false;
  if (buffer_.size() + size > kOutputBuffer) {
    if (!Flush()) return false;
    if (size >= kOutputBuffer) return WriteAll(data, size, nullptr);
  }
  if (buffer_.capacity() < kOutputBuffer) buffer_.reserve(kOutputBuffer);
  buffer_.insert(buffer_.end(), data, data + size);
  return true;
}

bool OutputFile::WriteAt(uint64_t at, const uint8_t* data, size_t size) {
  return WriteAll(data, size, &at);
}

bool OutputFile::WriteAll(const uint8_t* data, size_t size, uint64_t* at) {
  auto write = [&] {
    while (size > 0 && !failed_) {
      int64_t written = WriteSome(data, size, at);
      if (written <= 0) {
        failed_ = true;
        break;
      }
      data += written;
      size -= static_cast<size_t>(written);
      if (at != nullptr) *at += static_cast<uint64_t>(written);
    }
  };
  if (!InPlace()) {
    write();
  } else if (!TheEnd().HoldingOff(write)) {
    failed_ = true;  // the end has come: nothing more is written
  }
  return !failed_;
}

bool OutputFile::CopyFrom(const InputFile& input, uint64_t offset, uint64_t length) {
  return Write(input.data() + offset, static_cast<size_t>(length));
}

bool OutputFile::CopyFromAt(uint64_t at, const InputFile& input, uint64_t offset, uint64_t length) {
  // Into an output in place every write must be one the end can wait for.
  uint64_t done = InPlace() ? 0 : CopyInside(at, input, offset, length);
  return WriteAt(at + done, input.data() + offset + done, static_cast<size_t>(length - done));
}

bool OutputFile::Flush() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    WriteAll(buffer_.data(), buffer_.size(), nullptr);
    buffer_.clear();
  }
  return !failed_;
}

}  // namespace bonesplice::platform
