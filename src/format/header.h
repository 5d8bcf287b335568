// The 100-byte animation file header and the fixed sizes of the format.
#pragma once

#include <array>
#include <cstdint>

#include "format/bytes.h"

namespace bonesplice {

inline constexpr uint32_t kHeaderSize = 100;
// One BoneDataEntry: 14 bytes, compared byte for byte and never interpreted.
inline constexpr uint32_t kBoneDataEntrySize = 14;
// One FrameRecord field: a 24-bit little-endian BoneDataIndex.
inline constexpr uint32_t kFrameFieldSize = 3;
// A BoneDataIndex addresses at most this many entries.
inline constexpr uint32_t kMaxBoneDataEntries = 1u << 24;
// Each skeleton bone has one 4-byte word in the BoneOffsetTable after the header.
inline constexpr uint32_t kBoneOffsetSize = 4;

// In-memory header. The text fields keep their file bytes followed by a NUL, so they can be
// compared and printed as text; bytes the file does not supply are NUL.
struct AnimHeader {
  char ident[5];
  char version[5];
  char name[65];
  float scale;
  uint32_t frameCount;
  uint32_t frameArrayOffset;
  uint32_t boneCount;
  uint32_t boneArrayOffset;
  uint32_t skeletonInfoOffset;
  uint32_t eofOffset;
};

// Clears header and reads the first 100 bytes of file into it in field order. A 32-bit field
// the file ends in, and every field after it, reads as all bits set. Returns false when the
// file ends inside its header.
bool ReadHeader(ByteView file, AnimHeader& header);

// The 100 bytes of header as the file holds them (text fields without their NULs).
std::array<uint8_t, kHeaderSize> EncodeHeader(const AnimHeader& header);

enum class HeaderCheck { kOk, kBaseNotAnimation, kDonorNotAnimation, kBoneCountsDiffer };

// Decides whether two headers can be merged: both idents read "2LGA" letter case aside, and
// the bone counts are equal. Reports the first test that fails.
HeaderCheck CheckHeaders(const AnimHeader& base, const AnimHeader& donor);

}  // namespace bonesplice
