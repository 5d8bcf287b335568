// Sample files for the tests: generated with the project's own encoder, read with the
// program's own header decoder, written as the program would meet them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "glagen/sample.h"
#include "run_program.h"

namespace testing_support {

// Encodes file, writes it to path and returns its bytes.
std::vector<uint8_t> WriteSample(const std::filesystem::path& path, const glagen::SampleFile& file);

// A generated file; with like, it has like's bones (shuffled when asked) and shares entries.
glagen::SampleFile Generate(uint64_t seed, uint32_t bones, uint32_t frames, uint32_t entries,
                            const std::string& name, const glagen::SampleFile* like = nullptr,
                            double sharedShare = 0, bool shuffle = false, double repeatShare = 0);

inline bonesplice::ByteView ViewOf(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), bytes.size()};
}

// The header of an encoded file as the program reads it.
bonesplice::AnimHeader HeaderOf(const std::vector<uint8_t>& bytes);

// Changes the header of an encoded file of at least 100 bytes: edit gets the header as read,
// and what it leaves there is encoded back.
void EditHeader(std::vector<uint8_t>& bytes,
                const std::function<void(bonesplice::AnimHeader&)>& edit);

// What the console shows for a merge that finishes: the banner, the prompt and one progress
// line for each appended donor frame.
std::string MergeConsole(uint32_t donorFrames);

// Writes bytes, an encoded file, to path with a hole of holeBytes zeros before the byte at
// offset at: every header offset at or past it moves by holeBytes. The hole takes no disk
// space where the file system allows (a sparse file).
void WriteWithHole(const std::filesystem::path& path, std::vector<uint8_t> bytes, uint64_t at,
                   uint64_t holeBytes);

// The bone report of an encoded file, as list mode writes it to bone.log on POSIX.
std::string BoneReportOf(const std::vector<uint8_t>& bytes);

// RunBonesplice under a CPU-time limit and, outside sanitizer builds, an address-space limit,
// so that a hang or an allocation sized from a file's value fails the test; a sanitizer report
// ends the program with a signal. The Windows program runs without limits.
RunResult RunLimited(const std::filesystem::path& dir, const std::vector<std::string>& args,
                     const std::string& input = "");

}  // namespace testing_support
