// Fuzz target for the header and skeleton readers: any bytes as one animation file.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "format/header.h"
#include "format/skeleton.h"
#include "fuzz_input.h"

namespace bonesplice::fuzz {
namespace {

void ReadOneFile(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  AnimHeader header;
  bool whole = ReadHeader(file.get(), header);
  Require(whole == (size >= kHeaderSize), "ReadHeader reports a short header exactly");
  if (whole) {
    Require(ftello(file.get()) == kHeaderSize, "ReadHeader leaves the stream at offset 100");
    Require(std::memcmp(EncodeHeader(header).data(), data, kHeaderSize) == 0,
            "a header read and encoded again gives its 100 bytes");
  }
  CheckHeaders(header, header);

  off_t before = ftello(file.get());
  BoneTable table = ReadSkeleton(file.get(), header);
  Require(ftello(file.get()) == before, "ReadSkeleton restores the stream position");
  Require(table.bones.size() <= header.boneCount, "no more bones than the header names");
  Require(table.wholeBoneCount <= table.bones.size(), "whole bones are among those read");
  // Memory proportional to the file: every bone but the last begins with 64 name bytes of
  // it, and every child word is one of its words.
  size_t childWords = 0;
  for (const SkeletonBone& bone : table.bones) {
    Require(bone.name[64] == '\0', "a bone name ends inside its 65 bytes");
    Require(bone.childCount > 0 || bone.children.empty(), "no children without a positive count");
    Require(bone.children.size() <= static_cast<size_t>(bone.childCount > 0 ? bone.childCount : 0),
            "no more children than the count");
    childWords += bone.children.size();
  }
  Require(table.bones.size() <= size / 64 + 1, "bones are bounded by the file's size");
  Require(childWords <= size / 4, "child words are bounded by the file's size");
  bool wholeSkeleton = IsWholeSkeleton(table, header);
  Require(!wholeSkeleton || table.bones.size() == header.boneCount,
          "a whole skeleton holds every bone");

  // The caller can go on reading where it stood.
  uint8_t byte;
  size_t got = std::fread(&byte, 1, 1, file.get());
  Require(got == (static_cast<size_t>(before) < size ? 1u : 0u),
          "the next read after ReadSkeleton returns the next byte");
  if (got == 1) Require(byte == data[before], "the next read returns the byte at the position");
}

}  // namespace
}  // namespace bonesplice::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bonesplice::fuzz::ReadOneFile(data, size);
  return 0;
}
