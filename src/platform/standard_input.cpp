#include "platform/standard_input.h"

namespace bonesplice::platform {

int StandardInput::ReadByte() {
  while (at_ == pending_.size()) {
    pending_.clear();
    at_ = 0;
    if (!Refill()) return -1;
  }
  return static_cast<unsigned char>(pending_[at_++]);
}

}  // namespace bonesplice::platform
