// Little-endian numbers and the byte views the file model decodes from. Every byte of a file
// that the tool decodes goes through these loads or the sticky reader; every byte it encodes
// goes through the stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bonesplice {

inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint32_t LoadU24(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

inline void StoreU32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

// Stores the low 24 bits of value, low byte first.
inline void StoreU24(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
}

inline uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline float FloatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The bytes of a whole file in memory, mapped or read.
struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// True when length bytes starting at offset lie inside size bytes; never overflows.
inline bool Fits(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Reads a view sequentially from an offset. The end is sticky: once a read comes up short the
// reader is exhausted, every later word reads as all bits set and every later byte read
// delivers nothing.
class ByteReader {
 public:
  ByteReader(ByteView view, uint64_t offset) : view_(view), position_(offset) {}

  // Copies up to count bytes into out; returns how many there were (0 once exhausted).
  size_t ReadBytes(uint8_t* out, size_t count) {
    if (exhausted_ || count == 0) return 0;
    uint64_t left = position_ < view_.size ? view_.size - position_ : 0;
    size_t got = left < count ? static_cast<size_t>(left) : count;
    if (got > 0) std::memcpy(out, view_.data + position_, got);
    position_ += got;
    if (got < count) exhausted_ = true;
    return got;
  }
  // One little-endian 32-bit word; a word that cannot be read in full is 0xFFFFFFFF.
  uint32_t ReadWord() {
    uint8_t bytes[4];
    return ReadBytes(bytes, sizeof bytes) < sizeof bytes ? 0xFFFFFFFFu : LoadU32(bytes);
  }
  // How many whole words remain before the end of the view.
  uint64_t WordsLeft() const {
    return exhausted_ || position_ >= view_.size ? 0 : (view_.size - position_) / 4;
  }
  bool exhausted() const { return exhausted_; }
  uint64_t position() const { return position_; }

 private:
  ByteView view_;
  uint64_t position_;
  bool exhausted_ = false;
};

}  // namespace bonesplice
