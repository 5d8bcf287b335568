#include "format/header.h"

#include <cstring>

namespace bonesplice {
namespace {

bool IsAnimationIdent(const char* ident) {
  static constexpr char kIdent[] = "2lga";
  for (size_t i = 0; i < sizeof kIdent; ++i) {
    char c = ident[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kIdent[i]) return false;
  }
  return true;
}

void ReadText(ByteReader& reader, char* text, size_t length) {
  reader.ReadBytes(reinterpret_cast<uint8_t*>(text), length);
}

}  // namespace

bool ReadHeader(ByteView file, AnimHeader& header) {
  header = AnimHeader{};
  ByteReader reader(file, 0);
  ReadText(reader, header.ident, 4);
  ReadText(reader, header.version, 4);
  ReadText(reader, header.name, 64);
  header.scale = FloatFromBits(reader.ReadWord());
  header.frameCount = reader.ReadWord();
  header.frameArrayOffset = reader.ReadWord();
  header.boneCount = reader.ReadWord();
  header.boneArrayOffset = reader.ReadWord();
  header.skeletonInfoOffset = reader.ReadWord();
  header.eofOffset = reader.ReadWord();
  return !reader.exhausted();
}

std::array<uint8_t, kHeaderSize> EncodeHeader(const AnimHeader& header) {
  std::array<uint8_t, kHeaderSize> bytes{};
  std::memcpy(&bytes[0], header.ident, 4);
  std::memcpy(&bytes[4], header.version, 4);
  std::memcpy(&bytes[8], header.name, 64);
  const uint32_t words[] = {
      FloatBits(header.scale), header.frameCount,         header.frameArrayOffset, header.boneCount,
      header.boneArrayOffset,  header.skeletonInfoOffset, header.eofOffset};
  for (size_t i = 0; i < 7; ++i) StoreU32(&bytes[72 + 4 * i], words[i]);
  return bytes;
}

HeaderCheck CheckHeaders(const AnimHeader& base, const AnimHeader& donor) {
  if (!IsAnimationIdent(base.ident)) return HeaderCheck::kBaseNotAnimation;
  if (!IsAnimationIdent(donor.ident)) return HeaderCheck::kDonorNotAnimation;
  if (base.boneCount != donor.boneCount) return HeaderCheck::kBoneCountsDiffer;
  return HeaderCheck::kOk;
}

}  // namespace bonesplice
