#include "samples.h"

#include <fstream>
#include <stdexcept>

#include "app/messages.h"
#include "format/bytes.h"
#include "run_program.h"

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

std::string MergeConsole(uint32_t donorFrames) {
  std::string text = Banner() + bonesplice::messages::kPrompt;
  for (uint32_t i = 0; i + 1 < donorFrames; ++i) text += "\nEditing frame " + std::to_string(i);
  return text;
}

void WriteWithHole(const std::filesystem::path& path, std::vector<uint8_t> bytes, uint64_t at,
                   uint64_t holeBytes) {
  for (size_t field : {kFrameArrayAt, kBoneArrayAt, kSkeletonAt, kEofAt}) {
    uint64_t offset = WordAt(bytes, field);
    if (offset >= at) PatchWord(bytes, field, static_cast<uint32_t>(offset + holeBytes));
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(at));
  file.seekp(static_cast<std::streamoff>(at + holeBytes));
  file.write(reinterpret_cast<const char*>(bytes.data() + at),
             static_cast<std::streamsize>(bytes.size() - at));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

void PatchWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  bonesplice::StoreU32(&bytes[offset], value);
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  return bonesplice::LoadU32(&bytes[offset]);
}

}  // namespace testing_support
