#include "platform/file_id.h"

#include "platform/windows/windows.h"

namespace bonesplice::platform {

FileId IdentityOfHandle(intptr_t handle) {
  FileId id;
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == -1 || !GetFileInformationByHandle(AsHandle(handle), &info)) return id;
  id.valid = true;
  id.volume = info.dwVolumeSerialNumber;
  id.indexLow = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return id;
}

FileId IdentityOfPath(const std::string& path) {
  HANDLE handle =
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileId id = IdentityOfHandle(FromHandle(handle));
  CloseHandle(handle);
  return id;
}

bool IsDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
  size_t start = path.find_last_of("/\\:");
  std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (upper == device) return true;
  }
  if (upper.size() >= 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
    std::string number = upper.substr(3);
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
    if (number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3") return true;
  }
  return false;
}

}  // namespace bonesplice::platform
