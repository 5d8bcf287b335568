// The seeded random numbers of the sample generator and the benchmark: xoshiro256** seeded
// through splitmix64, so that every host draws the same numbers from the same seed.
#pragma once

#include <cstdint>

namespace glagen {

class Random {
 public:
  // A generator for seed; different streams of one seed give independent numbers.
  explicit Random(uint64_t seed, uint64_t stream = 0) {
    uint64_t state = seed ^ (stream * 0xD1B54A32D192ED03ull);
    for (uint64_t& word : s_) word = SplitMix(state);
  }

  uint64_t Next() {
    uint64_t result = RotateLeft(s_[1] * 5, 7) * 9;
    uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = RotateLeft(s_[3], 45);
    return result;
  }

  // Uniform in 0 .. bound - 1 (bound > 0), without modulo bias.
  uint64_t Below(uint64_t bound) {
    uint64_t limit = (0 - bound) % bound;  // 2^64 mod bound: values under it are rejected
    for (;;) {
      uint64_t x = Next();
      if (x >= limit) return x % bound;
    }
  }

  uint32_t Below32(uint32_t bound) { return static_cast<uint32_t>(Below(bound)); }

 private:
  static uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  static uint64_t RotateLeft(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  uint64_t s_[4];
};

}  // namespace glagen
