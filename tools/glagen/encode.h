// Sample animation files in memory: a model of a whole file, its encoder and its decoder.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glagen {

using Entry = std::array<uint8_t, 14>;

struct SampleBone {
  std::string name;  // up to 64 bytes; exactly 64 means no NUL in the field
  uint32_t flags = 0;
  int32_t parent = -1;
  std::array<float, 12> origin{};
  std::array<float, 12> inversedOrigin{};
  std::vector<uint32_t> children;
  // Written instead of children.size() when set (for damaged files).
  std::optional<int32_t> childCount;
};

struct SampleFile {
  std::string ident = "2LGA";  // first 4 bytes written (NUL-padded)
  std::array<uint8_t, 4> version{{6, 0, 0, 0}};
  std::string name = "sample";  // up to 64 bytes, NUL-padded
  float scale = 1.0f;
  std::vector<uint32_t> boneOffsets;  // BoneOffsetTable words; when empty, boneCount words derived
                                      // from the records' positions relative to skeletonInfoOffset
  std::vector<SampleBone> bones;
  std::vector<std::vector<uint32_t>> frames;  // frames[f][j] = 24-bit index of bone j in frame f
  std::vector<Entry> entries;
};

// The bytes of one skeleton record of bone: 172 and 4 per child.
uint64_t RecordSize(const SampleBone& bone);

// The file bytes, laid out contiguously: header, offset table at 100, skeleton at
// 100 + 4*boneCount, frames right after the skeleton, bone array right after the frames, eof.
// boneCount and frameCount are the sizes of bones and frames; each frame writes the fields it
// holds, so a frame of the wrong length moves the later blocks. Text longer than its field is
// cut; the file must stay below 4 GiB.
std::vector<uint8_t> EncodeSampleFile(const SampleFile& file);

// Parses a file laid out as EncodeSampleFile writes it (also real files of the format that are
// sound). nullopt when it does not parse. Matrix floats are kept as stored (NOT divided by scale).
// Text keeps all field bytes but trailing NULs, and boneOffsets holds the table as stored, so
// encoding the result of a contiguous file gives the same bytes again. Refused: a file shorter
// than its header, a block or skeleton record that reaches past the end, an eofOffset that is
// not the file size, a bone array that is not whole 14-byte entries. Indices are not checked.
std::optional<SampleFile> DecodeSampleFile(const std::vector<uint8_t>& bytes);

}  // namespace glagen
