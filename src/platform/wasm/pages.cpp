#include "platform/pages.h"

#include <cstdlib>

namespace bonesplice::platform {

// WebAssembly's memory is one zero-filled array that grows and never shrinks, with no pages to
// map: the C library's heap hands it out and takes it back.
void* AllocatePages(size_t bytes) {
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void FreePages(void* memory, size_t) {
  std::free(memory);
}

}  // namespace bonesplice::platform
