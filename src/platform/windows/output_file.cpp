#include "platform/output_file.h"

#include <algorithm>

#include "platform/signals.h"
#include "platform/windows/windows.h"

namespace bonesplice::platform {
namespace {

constexpr int kTemporaryAttempts = 16;

}  // namespace

OutputFile::~OutputFile() {
  if (begun_) Abandon();
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

bool OutputFile::Open(const std::string& path) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = FromHandle(handle);
  regular_ = GetFileType(handle) == FILE_TYPE_DISK;
  id_ = IdentityOfHandle(handle_);
  target_ = path;
  wchar_t final[4096];
  DWORD length = GetFinalPathNameByHandleW(handle, final, 4096, FILE_NAME_NORMALIZED);
  if (length > 0 && length < 4096) target_ = Narrow(final, length);
  return true;
}

bool OutputFile::Truncate() {
  if (!regular_) return true;
  LARGE_INTEGER zero{};
  return SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_BEGIN) &&
         SetEndOfFile(AsHandle(handle_));
}

bool OutputFile::Begin() {
  begun_ = true;
  if (!regular_) return true;  // a device: written in place, nothing to empty
  bool shortName = false;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string path = TemporaryName(target_, shortName);
    RemoveOnSignal(path);
    HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      temp_ = FromHandle(handle);
      temporaryPath_ = path;
      return true;
    }
    DWORD error = GetLastError();
    ClearSignalCleanup();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    if ((error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME) && !shortName) {
      shortName = true;
      continue;
    }
    if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) {
      // The folder refuses new files, but the output itself was opened for writing.
      EmptyOnSignal(handle_);
      return true;
    }
    break;  // no handle, space or quota left: nothing is written
  }
  begun_ = false;
  return false;
}

bool OutputFile::WriteOut(const uint8_t* data, size_t size) {
  HANDLE handle = AsHandle(Destination());
  while (size > 0) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(handle, data, piece, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool OutputFile::WriteAt(uint64_t at, const uint8_t* data, size_t size) {
  HANDLE handle = AsHandle(Destination());
  while (size > 0 && !failed_) {
    OVERLAPPED position{};  // the handle is not overlapped: the write completes here
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD piece = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(handle, data, piece, &written, &position) || written == 0) failed_ = true;
    data += written;
    at += written;
    size -= written;
  }
  return !failed_;
}

bool OutputFile::CopyFromAt(uint64_t at, const InputFile& input, uint64_t offset, uint64_t length) {
  return WriteAt(at, input.data() + offset, static_cast<size_t>(length));
}

void OutputFile::CloseTemporary() {
  if (temp_ == -1) return;
  CloseHandle(AsHandle(temp_));
  temp_ = -1;
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
  bool finished = written && CloseHandle(AsHandle(temp_)) != 0;
  temp_ = -1;
  // The output's own handle would stand in the way of replacing it.
  CloseOutput();
  std::wstring temporary = Wide(temporaryPath_);
  std::wstring target = Wide(target_);
  // ReplaceFileW keeps the output's access control list and attributes.
  bool replaced =
      finished && (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                nullptr, nullptr) ||
                   MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
  bool copied = false;
  if (finished && !replaced) {
    // The replace is refused, as when another program holds the output open without letting
    // it be deleted, while the output takes writes: the finished merge goes there in place, or
    // stays where it is.
    handle_ = FromHandle(CreateFileW(target.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle_ != -1) {
      EmptyOnSignal(handle_);
      copied = CopyTemporaryInPlace();
      if (!copied) Truncate();
      copied = CloseOutput() && copied;
    }
    if (!copied) kept_ = temporaryPath_;
  }
  ClearSignalCleanup();
  if (!replaced && kept_.empty()) DeleteFileW(temporary.c_str());
  temporaryPath_.clear();
  return replaced || copied;
}

bool OutputFile::CopyTemporaryInPlace() {
  HANDLE from =
      CreateFileW(Wide(temporaryPath_).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (from == INVALID_HANDLE_VALUE) return false;
  bool copied = Truncate();
  buffer_.resize(size_t{128} << 10);
  while (copied) {
    DWORD got = 0;
    if (!ReadFile(from, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) {
      copied = false;
    } else if (got == 0) {
      break;
    } else {
      copied = WriteOut(buffer_.data(), got);
    }
  }
  buffer_.clear();
  CloseHandle(from);
  return copied;
}

bool OutputFile::CloseOutput() {
  bool closed = handle_ == -1 || CloseHandle(AsHandle(handle_)) != 0;
  handle_ = -1;
  return closed;
}

void OutputFile::Abandon() {
  buffer_.clear();
  begun_ = false;
  ClearSignalCleanup();
  if (!temporaryPath_.empty()) {
    CloseTemporary();
    DeleteFileW(Wide(temporaryPath_).c_str());
    temporaryPath_.clear();
    return;
  }
  if (handle_ != -1) Truncate();
}

}  // namespace bonesplice::platform
