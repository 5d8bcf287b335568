#include "format/skeleton.h"

#include <sys/types.h>

#include <algorithm>

#include "format/bytes.h"

namespace bonesplice {
namespace {

// Child words are read in chunks so that a huge childCount costs memory only for the words
// the file really holds.
constexpr size_t kChildChunk = 4096;

void ReadMatrix(StreamReader& reader, float scale, float* matrix) {
  for (int i = 0; i < 12; ++i) matrix[i] = FloatFromBits(reader.ReadWord()) / scale;
}

void ReadChildren(StreamReader& reader, SkeletonBone& bone) {
  if (bone.childCount <= 0) return;
  size_t wanted = static_cast<size_t>(bone.childCount);
  uint8_t chunk[kChildChunk * 4];
  while (wanted > 0 && !reader.exhausted()) {
    size_t words = std::min(wanted, kChildChunk);
    size_t got = reader.ReadBytes(chunk, words * 4) / 4;
    for (size_t i = 0; i < got; ++i) bone.children.push_back(LoadU32(&chunk[4 * i]));
    wanted -= got;
  }
}

}  // namespace

BoneTable ReadSkeleton(std::FILE* stream, const AnimHeader& header) {
  BoneTable table;
  off_t saved = ftello(stream);
  if (SeekTo(stream, header.skeletonInfoOffset)) {
    StreamReader reader(stream);
    for (uint32_t i = 0; i < header.boneCount && !reader.exhausted(); ++i) {
      SkeletonBone bone{};
      if (reader.ReadBytes(reinterpret_cast<uint8_t*>(bone.name), 64) == 0) break;
      bone.flags = reader.ReadWord();
      bone.parent = static_cast<int32_t>(reader.ReadWord());
      ReadMatrix(reader, header.scale, bone.origin);
      ReadMatrix(reader, header.scale, bone.inversedOrigin);
      bone.childCount = static_cast<int32_t>(reader.ReadWord());
      ReadChildren(reader, bone);
      table.bones.push_back(std::move(bone));
      if (!reader.exhausted()) table.wholeBoneCount = i + 1;
    }
  }
  std::clearerr(stream);
  if (saved >= 0) fseeko(stream, saved, SEEK_SET);
  return table;
}

bool IsWholeSkeleton(const BoneTable& table, const AnimHeader& header) {
  return table.wholeBoneCount == header.boneCount;
}

}  // namespace bonesplice
