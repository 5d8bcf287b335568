// The C API (include/bonesplice.h) over the merge's phases, the header check and the bone
// report: arguments checked, the failure turned into its code and message, running out of
// memory caught.
#include <bonesplice.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "api/messages.h"
#include "api/report.h"
#include "format/layout.h"
#include "format/skeleton.h"
#include "merge/pipeline.h"
#include "merge/workers.h"
#include "platform/random_key.h"

namespace bonesplice {
namespace {

// The merge's output handed to the caller's callbacks.
class CallbackOutput : public MergeOutput {
 public:
  CallbackOutput(const bonesplice_output& output, ByteView base, const MergeSummary& summary)
      : output_(output), base_(base), summary_(summary) {}
  bool Begin() override {
    return output_.begin == nullptr || output_.begin(output_.context, summary_.outputSize) != 0;
  }
  bool TakesPiecesAtOffsets() const override { return output_.at_offsets != 0; }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    return output_.write(output_.context, offset, data, size) != 0;
  }
  // Emit copies the base in pieces of at most a few MiB, which size_t holds everywhere.
  bool CopyFromBaseAt(uint64_t offset, uint64_t baseOffset, uint64_t length) override {
    if (output_.copy_from_base != nullptr) {
      return output_.copy_from_base(output_.context, offset, baseOffset, length) != 0;
    }
    return WriteAt(offset, base_.data + baseOffset, static_cast<size_t>(length));
  }

 private:
  const bonesplice_output& output_;
  ByteView base_;
  const MergeSummary& summary_;
};

// Sets result to code and message, the console's text without its leading "\n".
bonesplice_code Refuse(bonesplice_result& result, bonesplice_code code, const std::string& text) {
  result.code = code;
  size_t skip = !text.empty() && text[0] == '\n' ? 1 : 0;
  size_t length = std::min(text.size() - skip, sizeof result.message - 1);
  std::memcpy(result.message, text.data() + skip, length);
  result.message[length] = '\0';
  return code;
}

bonesplice_code CodeOf(const Failure& failure) {
  return std::visit(
      [](const auto& kind) -> bonesplice_code {
        using Kind = std::decay_t<decltype(kind)>;
        if constexpr (std::is_same_v<Kind, HeadersRefused>) {
          return kind.check == HeaderCheck::kBaseNotAnimation    ? BONESPLICE_BASE_NOT_ANIMATION
                 : kind.check == HeaderCheck::kDonorNotAnimation ? BONESPLICE_DONOR_NOT_ANIMATION
                                                                 : BONESPLICE_BONE_COUNTS_DIFFER;
        } else if constexpr (std::is_same_v<Kind, FileDamaged>) {
          return kind.file == FileRole::kBase ? BONESPLICE_BASE_DAMAGED : BONESPLICE_DONOR_DAMAGED;
        } else if constexpr (std::is_same_v<Kind, NoDonorFrames>) {
          return BONESPLICE_NO_DONOR_FRAMES;
        } else if constexpr (std::is_same_v<Kind, NoBones>) {
          return BONESPLICE_NO_BONES;
        } else if constexpr (std::is_same_v<Kind, MissingBone>) {
          return BONESPLICE_MISSING_BONE;
        } else if constexpr (std::is_same_v<Kind, BadFrameIndex>) {
          return BONESPLICE_DONOR_DAMAGED;
        } else if constexpr (std::is_same_v<Kind, TooLarge>) {
          return BONESPLICE_TOO_LARGE;
        } else {
          // The merge in memory reads no file and commits nothing: only its output can fail.
          return BONESPLICE_OUTPUT_REFUSED;
        }
      },
      failure);
}

// A view of size bytes at data; false when data is null although size is not 0.
bool ViewOf(const uint8_t* data, size_t size, ByteView& view) {
  view = {data, size};
  return data != nullptr || size == 0;
}

// Empties result; false when result is null.
bool Start(bonesplice_result* result) {
  if (result == nullptr) return false;
  *result = bonesplice_result{};
  return true;
}

// Runs call, turning running out of memory into its refusal with text.
template <typename Call>
bonesplice_code Guarded(bonesplice_result& result, const char* text, Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  result.summary = bonesplice_summary{};
  return Refuse(result, BONESPLICE_OUT_OF_MEMORY, text);
}

constexpr char kInvalidArgument[] = "Error: invalid argument.";

// Bytes the merge keeps per donor entry: its remap slot, and then its place in the appended
// list, or with "-o" first the place of each entry of either file in the partitions (the two
// never at once); per bone of either file (the skeleton record, its child word and the name in
// the bone map); and the buffers that do not grow with the files.
constexpr uint64_t kRemapBytesPerEntry = 4;
constexpr uint64_t kAppendedBytesPerEntry = 4;
constexpr uint64_t kSharingBytesPerEntry = 8;
constexpr uint64_t kBytesPerBone = sizeof(SkeletonBone) + 4 + 96;
constexpr uint64_t kFixedBytes = uint64_t{2} << 20;

// The entries and bones a file of size bytes beginning with start can bring to a merge.
void CountsOf(const uint8_t* start, size_t startSize, uint64_t size, uint64_t& entries,
              uint64_t& bones) {
  AnimHeader header;
  ReadHeader({start, start == nullptr ? 0 : startSize}, header);
  uint64_t arrayBytes = header.eofOffset >= header.boneArrayOffset
                            ? uint64_t{header.eofOffset} - header.boneArrayOffset
                            : 0;
  entries = std::min(arrayBytes, size) / kBoneDataEntrySize;
  bones = std::min<uint64_t>(header.boneCount, size / kSkeletonBoneFixedSize);
}

}  // namespace
}  // namespace bonesplice

using namespace bonesplice;

extern "C" bonesplice_code bonesplice_merge(const uint8_t* base, size_t base_size,
                                            const uint8_t* donor, size_t donor_size,
                                            const bonesplice_merge_options* options,
                                            const bonesplice_output* output,
                                            bonesplice_result* result) {
  if (!Start(result)) return BONESPLICE_INVALID_ARGUMENT;
  ByteView baseView;
  ByteView donorView;
  if (!ViewOf(base, base_size, baseView) || !ViewOf(donor, donor_size, donorView) ||
      options == nullptr || output == nullptr || output->write == nullptr) {
    return Refuse(*result, BONESPLICE_INVALID_ARGUMENT, kInvalidArgument);
  }
  if (options->output_name != nullptr &&
      std::strlen(options->output_name) > BONESPLICE_MAX_OUTPUT_NAME) {
    return Refuse(*result, BONESPLICE_INVALID_ARGUMENT, messages::kOutputNameTooLong);
  }
  return Guarded(*result, messages::kOutOfMemory, [&] {
    MergeOptions merge;
    merge.optimize = options->optimize != 0;
    merge.threads = options->threads == 0 ? DefaultThreadCount() : options->threads;
    merge.hashKey = {platform::RandomKey(), platform::RandomKey()};
    if (options->progress != nullptr) {
      // Called only once Check has found at least one donor frame.
      AnimHeader donorHeader;
      ReadHeader(donorView, donorHeader);
      merge.onFramesDone = [options, toDo = donorHeader.frameCount - 1](uint32_t first,
                                                                        uint32_t count) {
        options->progress(options->progress_context, first + count, toDo);
      };
    }
    MergeSummary summary;
    CallbackOutput callbacks(*output, baseView, summary);
    if (auto failure = RunMerge(baseView, donorView, callbacks, merge, &summary)) {
      const char* name = options->output_name == nullptr ? "" : options->output_name;
      return Refuse(*result, CodeOf(*failure), messages::MessageOf(*failure, name));
    }
    result->summary = {summary.baseFrames, summary.appendedFrames, summary.appendedEntries,
                       summary.sharedEntries, summary.outputSize};
    return BONESPLICE_OK;
  });
}

extern "C" bonesplice_code bonesplice_check_headers(const uint8_t* base, size_t base_size,
                                                    const uint8_t* donor, size_t donor_size,
                                                    bonesplice_result* result) {
  if (!Start(result)) return BONESPLICE_INVALID_ARGUMENT;
  ByteView baseView;
  ByteView donorView;
  if (!ViewOf(base, base_size, baseView) || !ViewOf(donor, donor_size, donorView)) {
    return Refuse(*result, BONESPLICE_INVALID_ARGUMENT, kInvalidArgument);
  }
  AnimHeader baseHeader;
  AnimHeader donorHeader;
  ReadHeader(baseView, baseHeader);
  ReadHeader(donorView, donorHeader);
  HeaderCheck check = CheckHeaders(baseHeader, donorHeader);
  if (check == HeaderCheck::kOk) return BONESPLICE_OK;
  Failure failure = HeadersRefused{check};
  return Refuse(*result, CodeOf(failure), messages::MessageOf(failure, ""));
}

extern "C" bonesplice_code bonesplice_dump(const uint8_t* base, size_t base_size,
                                           const uint8_t* donor, size_t donor_size,
                                           const bonesplice_output* output,
                                           bonesplice_result* result) {
  if (!Start(result)) return BONESPLICE_INVALID_ARGUMENT;
  ByteView files[2];
  if (!ViewOf(base, base_size, files[0]) || !ViewOf(donor, donor_size, files[1]) ||
      output == nullptr || output->write == nullptr) {
    return Refuse(*result, BONESPLICE_INVALID_ARGUMENT, kInvalidArgument);
  }
  return Guarded(*result, messages::kDumpOutOfMemory, [&] {
    uint64_t written = 0;
    TextSink sink = [&](const char* text, size_t size) {
      bool taken = output->write(output->context, written, reinterpret_cast<const uint8_t*>(text),
                                 size) != 0;
      written += size;
      return taken;
    };
    for (ByteView file : files) {
      AnimHeader header;
      ReadHeader(file, header);
      if (!ReportBones(header, ReadSkeleton(file, header), sink)) {
        return Refuse(*result, BONESPLICE_OUTPUT_REFUSED, "Error: the bone dump was not taken.");
      }
    }
    return BONESPLICE_OK;
  });
}

extern "C" uint64_t bonesplice_merge_memory(const uint8_t* base_start, size_t base_start_size,
                                            uint64_t base_size, const uint8_t* donor_start,
                                            size_t donor_start_size, uint64_t donor_size,
                                            int optimize) {
  uint64_t baseEntries = 0;
  uint64_t baseBones = 0;
  uint64_t donorEntries = 0;
  uint64_t donorBones = 0;
  CountsOf(base_start, base_start_size, base_size, baseEntries, baseBones);
  CountsOf(donor_start, donor_start_size, donor_size, donorEntries, donorBones);
  uint64_t tables = donorEntries * kAppendedBytesPerEntry;
  if (optimize != 0)
    tables = std::max(tables, (baseEntries + donorEntries) * kSharingBytesPerEntry);
  return kFixedBytes + donorEntries * kRemapBytesPerEntry + tables +
         (baseBones + donorBones) * kBytesPerBone;
}
