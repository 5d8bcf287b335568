#include "platform/input_file.h"

#include "platform/signals.h"

namespace bonesplice::platform {

bool InputFile::failed() const {
  return MappingFaulted(guard_) || (handle_ != -1 && CurrentStamp() != opened_);
}

}  // namespace bonesplice::platform
