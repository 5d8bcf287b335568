// The merge run in this process, as the program runs it, into memory: what the tests compare with
// the reference merge without starting a program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "merge/entry_hash.h"
#include "merge/failure.h"

namespace testing_support {

// One way to run a merge. Every comparison with the reference runs each of MergeModes(): both
// modes, on one thread into a file, on two into a stream (front to back), on seven into a file.
struct MergeMode {
  bool optimize = false;  // "-o"
  unsigned threads = 1;
  bool atOffsets = true;  // the output takes pieces anywhere, as a file does
};
std::vector<MergeMode> MergeModes();
std::string NameOf(const MergeMode& mode);

// A key for the entries' hash that is neither the unkeyed function nor drawn anew.
inline constexpr bonesplice::HashKey kTestKey{0x243F6A8885A308D3ull, 0x13198A2E03707344ull};

struct MemoryMerge {
  std::optional<bonesplice::Failure> failure;
  std::vector<uint8_t> bytes;        // what the output received
  int begun = 0;                     // how many times the output was begun
  std::vector<uint32_t> framesDone;  // the appended frames reported done, in the order reported
};

// RunMerge of donor into base, written to a MemoryOutput.
MemoryMerge MergeInMemory(bonesplice::ByteView base, bonesplice::ByteView donor,
                          const MergeMode& mode, bonesplice::HashKey key = kTestKey);

// How a failure shows (its message), or "merged" for none: every detail of a failure shows in
// its message, so the tests compare failures by it.
std::string Outcome(const std::optional<bonesplice::Failure>& failure);

// 0, 1, ..., count - 1: the frames a merge reports done when count of them are.
std::vector<uint32_t> FirstFrames(uint32_t count);

}  // namespace testing_support
