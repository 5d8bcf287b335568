// Numbers as the benchmark's tables print them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace bonesplice::bench {

inline constexpr double kMiB = 1024.0 * 1024.0;

inline std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A count with thousands separators: 1,000,000.
inline std::string Count(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Milliseconds, with two decimals below 100 ms.
inline std::string Ms(double seconds) {
  return Fixed(seconds * 1000, seconds < 0.1 ? 2 : 0);
}

inline std::string MiB(uint64_t bytes) {
  return Fixed(static_cast<double>(bytes) / kMiB, 1);
}

inline std::string Ratio(double value) {
  return Fixed(value, 2);
}

}  // namespace bonesplice::bench
