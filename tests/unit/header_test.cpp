#include "format/header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "format/bytes.h"
#include "samples.h"

namespace bonesplice {
namespace {

using testing_support::HeaderOf;
using testing_support::ViewOf;

std::vector<uint8_t> HeaderBytes(const char* ident, uint32_t boneCount, uint32_t scaleBits) {
  std::vector<uint8_t> bytes(kHeaderSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  std::memcpy(bytes.data(), ident, 4);
  StoreU32(&bytes[72], scaleBits);
  StoreU32(&bytes[84], boneCount);
  return bytes;
}

TEST(Header, ReadAndEncodeReproduceTheHundredBytesForAnyScaleBits) {
  for (uint32_t scaleBits : {0x3F800000u, 0x7FC00000u, 0x7FA00001u, 0xFFFFFFFFu, 0x80000000u}) {
    std::vector<uint8_t> bytes = HeaderBytes("2LGA", 70, scaleBits);
    AnimHeader header;
    EXPECT_TRUE(ReadHeader(ViewOf(bytes), header));
    std::array<uint8_t, kHeaderSize> encoded = EncodeHeader(header);
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), bytes) << scaleBits;
  }
}

TEST(Header, FileEndingInsideTheHeaderSetsEveryWordFromTheOneItEndsIn) {
  std::vector<uint8_t> full = HeaderBytes("2LGA", 70, 0x3F800000u);
  for (size_t length = 0; length < kHeaderSize; ++length) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
    AnimHeader header;
    EXPECT_FALSE(ReadHeader(ViewOf(cut), header)) << length;
    std::array<uint8_t, kHeaderSize> encoded = EncodeHeader(header);
    for (size_t i = 0; i < kHeaderSize; ++i) {
      uint8_t expected;
      if (i < 72) {
        expected = i < length ? full[i] : 0;  // text bytes the file does not supply are NUL
      } else {
        size_t wordEnd = 72 + (i - 72) / 4 * 4 + 4;
        expected = wordEnd <= length ? full[i] : 0xFF;
      }
      ASSERT_EQ(encoded[i], expected) << "length " << length << " byte " << i;
    }
  }
}

TEST(Header, CheckReportsTheFirstFailingTest) {
  struct Case {
    const char* baseIdent;
    const char* donorIdent;
    uint32_t donorBones;
    HeaderCheck expected;
  };
  const Case cases[] = {
      {"2LGA", "2LGA", 53, HeaderCheck::kOk},
      {"2lga", "2LgA", 53, HeaderCheck::kOk},
      {"2LGB", "2LGA", 53, HeaderCheck::kBaseNotAnimation},
      {"2L\0A", "2LGA", 53, HeaderCheck::kBaseNotAnimation},
      {"2LGA", "2LGB", 53, HeaderCheck::kDonorNotAnimation},
      {"2LGA", "2L\0A", 53, HeaderCheck::kDonorNotAnimation},
      {"2LGA", "2LGA", 54, HeaderCheck::kBoneCountsDiffer},
      {"XXXX", "XXXX", 54, HeaderCheck::kBaseNotAnimation},
      {"2LGA", "3LGA", 54, HeaderCheck::kDonorNotAnimation},
  };
  for (const Case& c : cases) {
    AnimHeader base = HeaderOf(HeaderBytes(c.baseIdent, 53, 0x3F800000u));
    AnimHeader donor = HeaderOf(HeaderBytes(c.donorIdent, c.donorBones, 0x3F800000u));
    EXPECT_EQ(CheckHeaders(base, donor), c.expected) << c.baseIdent << " " << c.donorIdent;
  }
}

TEST(Header, TwoHeadersCutBeforeTheBoneCountPassTheCheck) {
  std::vector<uint8_t> cut = HeaderBytes("2LGA", 70, 0x3F800000u);
  cut.resize(80);
  AnimHeader base = HeaderOf(cut);
  AnimHeader donor = HeaderOf(cut);
  EXPECT_EQ(base.boneCount, 0xFFFFFFFFu);
  EXPECT_EQ(CheckHeaders(base, donor), HeaderCheck::kOk);
}

}  // namespace
}  // namespace bonesplice
