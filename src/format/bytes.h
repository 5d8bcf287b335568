// Little-endian numbers and C stream access for the animation file model.
// Every byte of a file that the tool decodes goes through this reader; every byte it encodes
// goes through the store helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

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

uint32_t FloatBits(float value);
float FloatFromBits(uint32_t bits);

// Reads a stream sequentially from its current position. The end is sticky: once a read comes
// up short the reader is exhausted, every later word reads as all bits set and every later byte
// read delivers nothing.
class StreamReader {
 public:
  explicit StreamReader(std::FILE* stream) : stream_(stream) {}

  // Reads up to count bytes into out; returns how many arrived (0 once exhausted).
  size_t ReadBytes(uint8_t* out, size_t count);
  // Reads one little-endian 32-bit word; a word that cannot be read in full is 0xFFFFFFFF.
  uint32_t ReadWord();
  bool exhausted() const { return exhausted_; }

 private:
  std::FILE* stream_;
  bool exhausted_ = false;
};

// Size in bytes of the file behind stream; the position is left unchanged.
std::optional<uint64_t> StreamSize(std::FILE* stream);

// Seeks to an absolute offset; false when the stream refuses.
bool SeekTo(std::FILE* stream, uint64_t offset);

// std::allocator, except that elements made without a value are left uninitialized, so that
// a block about to be filled by a read is not cleared first (for files of tens of megabytes
// the clearing costs about as much as the read).
template <typename T, typename Base = std::allocator<T>>
class UninitializedAllocator : public Base {
  using Traits = std::allocator_traits<Base>;

 public:
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U, typename Traits::template rebind_alloc<U>>;
  };
  using Base::Base;

  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    Traits::construct(static_cast<Base&>(*this), p, std::forward<Args>(args)...);
  }
};

// A block of file bytes held in memory.
using ByteBlock = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

// Reads exactly length bytes from offset into block (resized to length). False when the
// stream cannot seek there or ends early; what block then holds is of no use.
bool ReadBlock(std::FILE* stream, uint64_t offset, size_t length, ByteBlock& block);

// Writes all of block; false when the stream takes fewer bytes.
bool WriteBlock(std::FILE* stream, const uint8_t* data, size_t length);

}  // namespace bonesplice
