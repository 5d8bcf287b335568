#include "platform/output_file.h"

#include <algorithm>

#include "platform/unicode.h"
#include "platform/windows/windows.h"

namespace bonesplice::platform {

bool OutputFile::Open(const std::string& path) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = FromHandle(handle);
  regular_ = GetFileType(handle) == FILE_TYPE_DISK;
  id_ = IdentityOfHandle(handle_);
  // The file the name leads to, links followed, whatever the length of its path.
  target_ = path;
  std::wstring final(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                           FILE_NAME_NORMALIZED);
  if (length >= final.size()) {
    final.resize(length);
    length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                       FILE_NAME_NORMALIZED);
  }
  if (length > 0 && length < final.size()) target_ = Utf8FromWide(final.data(), length);
  return true;
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

uint64_t OutputFile::CopyInside(uint64_t, const InputFile&, uint64_t, uint64_t) {
  return 0;  // the inputs are in memory: they are written from there
}

void OutputFile::TakeOutputPermissions() {}  // ReplaceFileW keeps the output's own

bool OutputFile::ReplaceOutput() {
  Close(handle_);  // the output's own handle would stand in the way of replacing it
  std::wstring temporary = Wide(temporaryPath_);
  std::wstring target = Wide(target_);
  // ReplaceFileW keeps the output's access control list and attributes.
  if (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                   REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                   nullptr) ||
      MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  handle_ = FromHandle(CreateFileW(target.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return false;
}

bool OutputFile::Close(intptr_t& handle) {
  bool closed = handle == -1 || CloseHandle(AsHandle(handle)) != 0;
  handle = -1;
  return closed;
}

}  // namespace bonesplice::platform
