#include "platform/file_id.h"

#include <sys/stat.h>

namespace bonesplice::platform {
namespace {

FileId IdentityOfStat(const struct stat& status) {
  FileId id;
  id.valid = true;
  id.volume = static_cast<uint64_t>(status.st_dev);
  id.indexLow = static_cast<uint64_t>(status.st_ino);
  return id;
}

}  // namespace

FileId IdentityOfPath(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return {};
  return IdentityOfStat(status);
}

FileId IdentityOfHandle(intptr_t handle) {
  struct stat status;
  if (fstat(static_cast<int>(handle), &status) != 0) return {};
  return IdentityOfStat(status);
}

bool IsDeviceName(const std::string&) {
  return false;
}

}  // namespace bonesplice::platform
