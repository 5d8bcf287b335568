// Fuzz target for the header and skeleton readers: any bytes as one animation file.
#include <cstdint>
#include <cstring>

#include "format/header.h"
#include "format/skeleton.h"
#include "fuzz_input.h"

namespace bonesplice::fuzz {
namespace {

void ReadOneFile(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  AnimHeader header;
  bool whole = ReadHeader(file.view(), header);
  Require(whole == (size >= kHeaderSize), "ReadHeader reports a short header exactly");
  if (whole) {
    Require(std::memcmp(EncodeHeader(header).data(), data, kHeaderSize) == 0,
            "a header read and encoded again gives its 100 bytes");
  }
  CheckHeaders(header, header);

  BoneTable table = ReadSkeleton(file.view(), header);
  Require(table.bones.size() <= header.boneCount, "no more bones than the header names");
  Require(table.wholeBoneCount <= table.bones.size(), "whole bones are among those read");
  Require(table.endOffset <= size || table.wholeBoneCount == 0, "whole bones end in the file");
  // Memory proportional to the file: every bone but the last begins with 64 name bytes of
  // it, and every child word is one of its words.
  size_t childWords = 0;
  for (const SkeletonBone& bone : table.bones) {
    Require(bone.name[64] == '\0', "a bone name ends inside its 65 bytes");
    Require(bone.childCount > 0 || bone.children.empty(), "no children without a positive count");
    Require(bone.children.size() <= static_cast<size_t>(bone.childCount > 0 ? bone.childCount : 0),
            "no more children than the count");
    Require(bone.children.capacity() <= size / 4, "a child list is sized by the file");
    childWords += bone.children.size();
  }
  Require(table.bones.size() <= size / 64 + 1, "bones are bounded by the file's size");
  Require(childWords <= size / 4, "child words are bounded by the file's size");
  bool wholeSkeleton = IsWholeSkeleton(table, header);
  Require(!wholeSkeleton || table.bones.size() == header.boneCount,
          "a whole skeleton holds every bone");
}

}  // namespace
}  // namespace bonesplice::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bonesplice::fuzz::ReadOneFile(data, size);
  return 0;
}
