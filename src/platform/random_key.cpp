#include "platform/random_key.h"

#include <chrono>
#include <random>

namespace bonesplice::platform {
namespace {

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

}  // namespace

uint64_t RandomKey() {
  uint64_t key = 0;
  try {
    std::random_device device;
    key = uint64_t{device()} << 32 ^ device();
  } catch (...) {
    // No system source of randomness: the clock and the address layout still vary.
  }
  int local = 0;
  key ^= Mix(
      static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  key ^= Mix(reinterpret_cast<uintptr_t>(&local) ^ 0x9E3779B97F4A7C15ull);
  return Mix(key);
}

}  // namespace bonesplice::platform
