#include "samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "api/report.h"
#include "app/messages.h"
#include "format/skeleton.h"

#if defined(__SANITIZE_ADDRESS__)
#define BONESPLICE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BONESPLICE_UNDER_ASAN 1
#endif
#endif

namespace testing_support {

std::vector<uint8_t> WriteSample(const std::filesystem::path& path,
                                 const glagen::SampleFile& file) {
  std::vector<uint8_t> bytes = glagen::EncodeSampleFile(file);
  WriteFileBytes(path, bytes);
  return bytes;
}

glagen::SampleFile Generate(uint64_t seed, uint32_t bones, uint32_t frames, uint32_t entries,
                            const std::string& name, const glagen::SampleFile* like,
                            double sharedShare, bool shuffle, double repeatShare) {
  glagen::GenerateOptions options;
  options.seed = seed;
  options.bones = bones;
  options.frames = frames;
  options.entries = entries;
  options.name = name;
  options.like = like;
  options.sharedShare = sharedShare;
  options.shuffle = shuffle;
  options.repeatShare = repeatShare;
  return glagen::GenerateSampleFile(options);
}

bonesplice::AnimHeader HeaderOf(const std::vector<uint8_t>& bytes) {
  bonesplice::AnimHeader header;
  bonesplice::ReadHeader(ViewOf(bytes), header);
  return header;
}

void EditHeader(std::vector<uint8_t>& bytes,
                const std::function<void(bonesplice::AnimHeader&)>& edit) {
  if (bytes.size() < bonesplice::kHeaderSize) throw std::runtime_error("no whole header to edit");
  bonesplice::AnimHeader header = HeaderOf(bytes);
  edit(header);
  std::array<uint8_t, bonesplice::kHeaderSize> encoded = bonesplice::EncodeHeader(header);
  std::copy(encoded.begin(), encoded.end(), bytes.begin());
}

std::string MergeConsole(uint32_t donorFrames) {
  std::string text = Banner() + bonesplice::messages::kPrompt;
  for (uint32_t i = 0; i + 1 < donorFrames; ++i) text += bonesplice::messages::Progress(i);
  return text;
}

void WriteWithHole(const std::filesystem::path& path, std::vector<uint8_t> bytes, uint64_t at,
                   uint64_t holeBytes) {
  EditHeader(bytes, [&](bonesplice::AnimHeader& header) {
    for (uint32_t* offset : {&header.frameArrayOffset, &header.boneArrayOffset,
                             &header.skeletonInfoOffset, &header.eofOffset}) {
      if (*offset >= at) *offset = static_cast<uint32_t>(*offset + holeBytes);
    }
  });
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(at));
  file.seekp(static_cast<std::streamoff>(at + holeBytes));
  file.write(reinterpret_cast<const char*>(bytes.data() + at),
             static_cast<std::streamsize>(bytes.size() - at));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

RunResult RunLimited(const std::filesystem::path& dir, const std::vector<std::string>& args,
                     const std::string& input) {
  // Under wine the limits would bind wine, not the program.
  if (RunsWindowsProgram()) return RunBonesplice(dir, args, input);
  // AddressSanitizer reserves terabytes of address space for its shadow memory, so the
  // address-space limit applies only to builds without it.
  std::string limits =
      "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}abort_on_error=1\" "
      "UBSAN_OPTIONS=\"${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}abort_on_error=1\"; ulimit -t 20; ";
#ifndef BONESPLICE_UNDER_ASAN
  limits += "ulimit -v 393216; ";
#endif
  std::vector<std::string> shellArgs = {"-c", limits + "exec \"$0\" \"$@\"", ProgramPath()};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  return RunProcess("/bin/sh", dir, shellArgs, input);
}

std::string BoneReportOf(const std::vector<uint8_t>& bytes) {
  bonesplice::AnimHeader header = HeaderOf(bytes);
  std::string text;
  EXPECT_TRUE(bonesplice::ReportBones(header, bonesplice::ReadSkeleton(ViewOf(bytes), header),
                                      [&text](const char* piece, size_t size) {
                                        text.append(piece, size);
                                        return true;
                                      }));
  return text;
}

}  // namespace testing_support
