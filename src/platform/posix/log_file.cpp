#include "platform/log_file.h"

namespace bonesplice::platform {

std::FILE* OpenForAppending(const std::string& path, FileId& id) {
  std::FILE* stream = std::fopen(path.c_str(), "a+");
  if (stream != nullptr) id = IdentityOfHandle(fileno(stream));
  return stream;
}

}  // namespace bonesplice::platform
