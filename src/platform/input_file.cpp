#include "platform/input_file.h"

#include <new>

namespace bonesplice::platform {

bool InputFile::Load() {
  if (opened_.size == 0) return true;
  if (opened_.size > SIZE_MAX) throw std::bad_alloc();
  return Map() || ReadWhole();
}

bool InputFile::ReadWhole() {
  copy_.resize(static_cast<size_t>(opened_.size));
  size_t got = 0;
  while (got < copy_.size()) {
    int64_t read = ReadAt(got, copy_.data() + got, copy_.size() - got);
    if (read < 0) return false;
    if (read == 0) break;
    got += static_cast<size_t>(read);
  }
  copy_.resize(got);
  data_ = copy_.data();
  size_ = copy_.size();
  return true;
}

bool InputFile::failed() const {
  return (faulted_ != nullptr && faulted_->load()) || (handle_ != -1 && CurrentStamp() != opened_);
}

}  // namespace bonesplice::platform
