// Which file a name or an open file is, whatever path leads to it, and which names are devices.
#pragma once

#include <cstdint>
#include <string>

namespace bonesplice::platform {

// Names one file: device and inode on POSIX, volume serial number and file index on Windows.
// Invalid when the file could not be asked.
struct FileId {
  bool valid = false;
  uint64_t volume = 0;
  uint64_t indexLow = 0;
  uint64_t indexHigh = 0;
};

// True when both identities are valid and name the same file.
inline bool SameFile(const FileId& a, const FileId& b) {
  return a.valid && b.valid && a.volume == b.volume && a.indexLow == b.indexLow &&
         a.indexHigh == b.indexHigh;
}

// The identity of the file path names, symbolic links followed; invalid when there is none.
FileId IdentityOfPath(const std::string& path);

// The identity of an open file: a descriptor on POSIX, a HANDLE on Windows.
FileId IdentityOfHandle(intptr_t handle);

// True when path names a device rather than a file on this system, whatever folder it is in:
// "CON", "aux.gla", "COM1" and the like on Windows; never on POSIX, where devices are files.
bool IsDeviceName(const std::string& path);

}  // namespace bonesplice::platform
