#include "platform/output_file.h"

#include <algorithm>

#include "platform/signals.h"
#include "platform/windows/windows.h"

namespace bonesplice::platform {
namespace {}  // namespace

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

OutputFile::Creation OutputFile::CreateTemporary(const std::string& path) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    temp_ = FromHandle(handle);
    return Creation::kCreated;
  }
  switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Creation::kExists;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
      return Creation::kNameTooLong;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Creation::kFolderRefuses;
    default:
      return Creation::kFailed;
  }
}

int64_t OutputFile::WriteSome(const uint8_t* data, size_t size, const uint64_t* at) {
  OVERLAPPED position{};  // the handle is not overlapped: the write completes here
  if (at != nullptr) {
    position.Offset = static_cast<DWORD>(*at);
    position.OffsetHigh = static_cast<DWORD>(*at >> 32);
  }
  DWORD piece = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
  DWORD written = 0;
  if (!WriteFile(AsHandle(Destination()), data, piece, &written,
                 at != nullptr ? &position : nullptr)) {
    return -1;
  }
  return written;
}

bool OutputFile::CopyFromAt(uint64_t at, const InputFile& input, uint64_t offset, uint64_t length) {
  return WriteAt(at, input.data() + offset, static_cast<size_t>(length));
}

void OutputFile::CloseTemporary() {
  if (temp_ == -1) return;
  CloseHandle(AsHandle(temp_));
  temp_ = -1;
}

bool OutputFile::FinishTemporary() {
  bool closed = CloseHandle(AsHandle(temp_)) != 0;
  temp_ = -1;
  return closed;
}

bool OutputFile::ReplaceOutput() {
  // The output's own handle would stand in the way of replacing it.
  CloseOutput();
  std::wstring temporary = Wide(temporaryPath_);
  std::wstring target = Wide(target_);
  // ReplaceFileW keeps the output's access control list and attributes.
  return ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                      nullptr) ||
         MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void OutputFile::RemoveTemporary() {
  DeleteFileW(Wide(temporaryPath_).c_str());
}

bool OutputFile::CopyTemporaryInPlace() {
  // The output was closed for the replace: it is opened again, as the file it was.
  handle_ = FromHandle(CreateFileW(Wide(target_).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle_ == -1) return false;
  EmptyOnSignal(handle_);
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

}  // namespace bonesplice::platform
