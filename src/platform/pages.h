// Memory for large tables, straight from the system rather than the heap.
#pragma once

#include <cstddef>

namespace bonesplice::platform {

// bytes of zero-filled memory, where the system allows in large pages, so that first use costs
// fewer page faults and scattered reads miss the address translation caches less often;
// nullptr when there is not enough memory. Pages the caller never touches take no physical
// memory (on Windows they still count against the system's commit limit, which the whole
// table must fit in).
void* AllocatePages(size_t bytes);

// Gives back memory from AllocatePages(bytes); nullptr is ignored.
void FreePages(void* memory, size_t bytes);

}  // namespace bonesplice::platform
