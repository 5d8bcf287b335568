#include "platform/input_file.h"

#include <algorithm>

#include "platform/windows/windows.h"

namespace bonesplice::platform {

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

OpenStatus InputFile::Open(const std::string& path) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A folder cannot be opened as a file, but it exists: it is not a regular file.
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return folder ? OpenStatus::kNotRegular : OpenStatus::kCannotOpen;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return OpenStatus::kNotRegular;
  }
  handle_ = FromHandle(handle);
  id_ = IdentityOfHandle(handle_);
  opened_ = CurrentStamp();
  return OpenStatus::kOk;
}

InputFile::Stamp InputFile::CurrentStamp() const {
  Stamp stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(AsHandle(handle_), &info)) {
    stamp.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    stamp.modified =
        uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 | info.ftLastWriteTime.dwLowDateTime;
  }
  return stamp;
}

// A failed read of a view (a network drive gone) can only be caught for the whole view, which
// would have to be swapped for memory while other threads read it: inputs are read whole.
bool InputFile::Map() {
  return false;
}

int64_t InputFile::ReadAt(uint64_t offset, uint8_t* data, size_t size) const {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD piece = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
  DWORD read = 0;
  if (ReadFile(AsHandle(handle_), data, piece, &read, &at)) return read;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

}  // namespace bonesplice::platform
