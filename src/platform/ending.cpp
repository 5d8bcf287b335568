#include "platform/ending.h"

namespace bonesplice::platform {
namespace {

// Constant-initialized, so that an end that comes early or late in the run finds it whole.
Ending theEnd;

}  // namespace

Ending& TheEnd() {
  return theEnd;
}

void Ending::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  EndAfterCrash();
}

void Ending::EndAfterCrash() const {
  if (const char* path = temporary_.load()) RemoveFile(path);
  if (intptr_t handle = inPlace_.load(); handle != -1) EmptyFile(handle);
}

}  // namespace bonesplice::platform
