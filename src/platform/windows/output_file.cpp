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

void OutputFile::Begin() {
  begun_ = true;
  if (!regular_) return;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string path = TemporaryName(target_);
    RemoveOnSignal(path);
    HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      temp_ = FromHandle(handle);
      temporaryPath_ = path;
      return;
    }
    DWORD error = GetLastError();
    ClearSignalCleanup();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  EmptyOnSignal(handle_);
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

bool OutputFile::CopyFrom(const InputFile& input, uint64_t offset, uint64_t length) {
  return Write(input.data() + offset, static_cast<size_t>(length));
}

void OutputFile::CloseTemporary() {
  if (temp_ == -1) return;
  CloseHandle(AsHandle(temp_));
  temp_ = -1;
}

bool OutputFile::Commit() {
  bool written = Flush();
  begun_ = false;
  ClearSignalCleanup();
  if (temporaryPath_.empty()) {
    bool closed = CloseHandle(AsHandle(handle_)) != 0;
    handle_ = -1;
    return written && closed;
  }
  bool closed = CloseHandle(AsHandle(temp_)) != 0;
  temp_ = -1;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
  std::wstring temporary = Wide(temporaryPath_);
  bool replaced = false;
  if (written && closed) {
    // ReplaceFileW keeps the output's access control list and attributes.
    std::wstring target = Wide(target_);
    replaced = ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                            nullptr, nullptr) ||
               MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  if (!replaced) DeleteFileW(temporary.c_str());
  temporaryPath_.clear();
  return replaced;
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
