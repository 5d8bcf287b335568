#include "format/skeleton.h"

#include <algorithm>

namespace bonesplice {
namespace {

void ReadMatrix(ByteReader& reader, float scale, float* matrix) {
  for (int i = 0; i < 12; ++i) matrix[i] = FloatFromBits(reader.ReadWord()) / scale;
}

// Reads childCount words, or as many as the file holds: a huge count costs nothing more.
void ReadChildren(ByteReader& reader, SkeletonBone& bone) {
  if (bone.childCount <= 0) return;
  uint64_t wanted = static_cast<uint64_t>(bone.childCount);
  uint64_t present = std::min(wanted, reader.WordsLeft());
  bone.children.reserve(static_cast<size_t>(present));
  for (uint64_t i = 0; i < present; ++i) bone.children.push_back(reader.ReadWord());
  if (present < wanted) reader.ReadWord();  // the first missing word ends the reader
}

}  // namespace

BoneTable ReadSkeleton(ByteView file, const AnimHeader& header) {
  BoneTable table;
  table.endOffset = header.skeletonInfoOffset;
  ByteReader reader(file, header.skeletonInfoOffset);
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
    if (!reader.exhausted()) {
      table.wholeBoneCount = i + 1;
      table.endOffset = reader.position();
    }
  }
  return table;
}

bool IsWholeSkeleton(const BoneTable& table, const AnimHeader& header) {
  return table.wholeBoneCount == header.boneCount;
}

}  // namespace bonesplice
