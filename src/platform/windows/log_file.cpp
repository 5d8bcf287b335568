#include "platform/log_file.h"

// windows.h first: io.h is the C library's, for the handle behind a stream.
#include <io.h>

#include "platform/windows/windows.h"

namespace bonesplice::platform {

std::FILE* OpenForAppending(const std::string& path, FileId& id) {
  std::FILE* stream = _wfopen(Wide(path).c_str(), L"a");
  if (stream != nullptr) id = IdentityOfHandle(_get_osfhandle(_fileno(stream)));
  return stream;
}

}  // namespace bonesplice::platform
