// Generated sample files for the command-line tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "glagen/sample.h"

namespace testing_support {

// Encodes file, writes it to path and returns its bytes.
std::vector<uint8_t> WriteSample(const std::filesystem::path& path, const glagen::SampleFile& file);

// A generated file; with like, it has like's bones (shuffled when asked) and shares entries.
glagen::SampleFile Generate(uint64_t seed, uint32_t bones, uint32_t frames, uint32_t entries,
                            const std::string& name, const glagen::SampleFile* like = nullptr,
                            double sharedShare = 0, bool shuffle = false, double repeatShare = 0);

// What the console shows for a merge that finishes: the banner, the prompt and one progress
// line for each appended donor frame.
std::string MergeConsole(uint32_t donorFrames);

// Writes bytes, an encoded file, to path with a hole of holeBytes zeros before the byte at
// offset at: every header offset at or past it moves by holeBytes. The hole takes no disk
// space where the file system allows (a sparse file).
void WriteWithHole(const std::filesystem::path& path, std::vector<uint8_t> bytes, uint64_t at,
                   uint64_t holeBytes);

// Overwrites the 32-bit little-endian word at offset.
void PatchWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset);

// Header field offsets.
inline constexpr size_t kFrameCountAt = 76;
inline constexpr size_t kFrameArrayAt = 80;
inline constexpr size_t kBoneCountAt = 84;
inline constexpr size_t kBoneArrayAt = 88;
inline constexpr size_t kSkeletonAt = 92;
inline constexpr size_t kEofAt = 96;

}  // namespace testing_support
