// Fuzz target for the whole merge. An input holds two files: a 32-bit little-endian length n,
// then n bytes of base file (fewer when the input ends first), then the donor file. Both files
// go through the program's own steps, header check included, in plain and in optimize mode.
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "fuzz_input.h"
#include "merge/pipeline.h"
#include "reference_merge.h"

namespace bonesplice::fuzz {
namespace {

// The whole content of stream.
std::vector<uint8_t> ContentOf(std::FILE* stream) {
  std::vector<uint8_t> bytes;
  Require(std::fflush(stream) == 0 && std::fseek(stream, 0, SEEK_SET) == 0, "output rewinds");
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

// True when bytes are a file whose header describes exactly the blocks that follow it.
bool IsSoundOutput(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kHeaderSize) return false;
  uint64_t frameCount = LoadU32(&bytes[76]), frameArray = LoadU32(&bytes[80]);
  uint64_t boneCount = LoadU32(&bytes[84]), boneArray = LoadU32(&bytes[88]);
  uint64_t skeleton = LoadU32(&bytes[92]), eof = LoadU32(&bytes[96]);
  return eof == bytes.size() && skeleton == kHeaderSize + kBoneOffsetSize * boneCount &&
         frameArray >= skeleton &&
         boneArray == frameArray + kFrameFieldSize * boneCount * frameCount && boneArray <= eof &&
         (eof - boneArray) % kBoneDataEntrySize == 0;
}

MergeOutcome MergeOnce(const MemoryFile& base, const MemoryFile& donor, std::FILE* output,
                       bool optimize) {
  AnimHeader baseHeader;
  AnimHeader donorHeader;
  ReadHeader(base.get(), baseHeader);
  ReadHeader(donor.get(), donorHeader);
  if (CheckHeaders(baseHeader, donorHeader) != HeaderCheck::kOk) return {};

  Require(std::fflush(output) == 0 && ftruncate(fileno(output), 0) == 0, "output empties");
  std::rewind(output);
  uint64_t framesDone = 0;
  MergeOptions options;
  options.optimize = optimize;
  options.onFrameDone = [&framesDone](uint32_t frame) {
    Require(frame == framesDone, "progress lines count up from 0");
    ++framesDone;
  };
  MergeOutcome outcome =
      RunMerge(base.get(), donor.get(), output, baseHeader, donorHeader, options);
  std::vector<uint8_t> written = ContentOf(output);
  Require(outcome.error != MergeError::kWriteFailed, "a scratch output takes every byte");
  Require(outcome.error != MergeError::kReadFailed, "a checked file can be read");
  if (outcome.error != MergeError::kNone) {
    Require(written.empty(), "a refused merge writes nothing");
    return outcome;
  }
  Require(framesDone == uint64_t{donorHeader.frameCount} - 1, "one progress line per frame");
  Require(IsSoundOutput(written), "the output's header describes its blocks");
  Require(written == reference::ReferenceMerge(base.bytes(), donor.bytes(), optimize),
          "the output is the reference merge's");
  return outcome;
}

void MergeTwoFiles(const uint8_t* data, size_t size) {
  size_t baseSize = 0;
  if (size >= 4) baseSize = std::min<size_t>(LoadU32(data), size - 4);
  size_t donorStart = std::min<size_t>(size, 4) + baseSize;
  MemoryFile base(data + std::min<size_t>(size, 4), baseSize);
  MemoryFile donor(data + donorStart, size - donorStart);
  static std::FILE* output = std::tmpfile();
  Require(output != nullptr, "a scratch output can be created");

  MergeOutcome plain = MergeOnce(base, donor, output, false);
  MergeOutcome optimized = MergeOnce(base, donor, output, true);
  // Sharing entries only makes the output smaller, so it cannot make a merge fail.
  if (plain.error != MergeError::kTooLarge) {
    Require(plain.error == optimized.error, "both modes agree on whether a merge can be done");
  }
}

}  // namespace
}  // namespace bonesplice::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bonesplice::fuzz::MergeTwoFiles(data, size);
  return 0;
}
