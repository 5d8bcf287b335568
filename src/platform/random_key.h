// Secrets for keyed hashes and temporary names.
#pragma once

#include <cstdint>

namespace bonesplice::platform {

// 64 bits that differ from run to run and cannot be guessed by whoever wrote the input files:
// the system's random source, mixed with the clock and the address layout where it has none.
uint64_t RandomKey();

}  // namespace bonesplice::platform
