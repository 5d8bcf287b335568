#include "api/messages.h"

#include <type_traits>

namespace bonesplice::messages {

const char kOutOfMemory[] = "\nError: not enough memory for the merge.";
const char kDumpOutOfMemory[] = "\nError: not enough memory for the bone dump.";
const char kOutputNameTooLong[] = "\nError: output filename is longer than 255 characters.";

std::string Shown(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string FileWord(FileRole file) {
  return file == FileRole::kDonor ? "second" : "first";
}

namespace {

const char* HeaderCheckText(HeaderCheck check) {
  switch (check) {
    case HeaderCheck::kOk:
      break;
    case HeaderCheck::kBaseNotAnimation:
      return "\nError, first file is not a .gla animation file.";
    case HeaderCheck::kDonorNotAnimation:
      return "\nError, second file is not a .gla animation file.";
    case HeaderCheck::kBoneCountsDiffer:
      return "\nError: can only merge frames from files with same number of bones.";
  }
  return "";
}

const char* DamageText(Damage damage) {
  switch (damage) {
    case Damage::kEndsInHeader:
      return "it ends inside its header";
    case Damage::kOffsetTablePastEnd:
      return "its bone offset table runs past the end of the file";
    case Damage::kSkeletonAfterFrames:
      return "its skeleton offset lies after its frame array offset";
    case Damage::kSkeletonOutsideBlock:
      return "its skeleton does not lie between its bone offset table and its frame array";
    case Damage::kSkeletonShort:
      return "its skeleton ends early";
    case Damage::kFramesPastEnd:
      return "its frame array runs past the end of the file";
    case Damage::kBoneArrayAfterEnd:
      return "its bone array offset lies after its end offset";
    case Damage::kBoneArrayPastEnd:
      return "its bone array runs past the end of the file";
    case Damage::kBoneArrayPartialEntry:
      return "its bone array is not a whole number of 14-byte entries";
  }
  return "";
}

std::string Damaged(FileRole file, const std::string& what) {
  return "\nError: " + FileWord(file) + " file is damaged: " + what + ".";
}

}  // namespace

std::string MessageOf(const Failure& failure, const std::string& outputName) {
  return std::visit(
      [&](const auto& kind) -> std::string {
        using Kind = std::decay_t<decltype(kind)>;
        if constexpr (std::is_same_v<Kind, HeadersRefused>) {
          return HeaderCheckText(kind.check);
        } else if constexpr (std::is_same_v<Kind, FileDamaged>) {
          return Damaged(kind.file, DamageText(kind.damage));
        } else if constexpr (std::is_same_v<Kind, NoDonorFrames>) {
          return "\nError: second file has no frames.";
        } else if constexpr (std::is_same_v<Kind, NoBones>) {
          return "\nError: the files have no bones, so there is nothing to merge.";
        } else if constexpr (std::is_same_v<Kind, MissingBone>) {
          return "\nError: second file has no bone named " + Shown(kind.name) + ".";
        } else if constexpr (std::is_same_v<Kind, BadFrameIndex>) {
          return Damaged(FileRole::kDonor,
                         "frame " + std::to_string(kind.frame) + " refers to bone data entry " +
                             std::to_string(kind.index) + " of " + std::to_string(kind.entryCount));
        } else if constexpr (std::is_same_v<Kind, TooLarge>) {
          return "\nError: the merged file would be too large for the format.";
        } else if constexpr (std::is_same_v<Kind, InputUnreadable>) {
          return "\nError: cannot read " + FileWord(kind.file) + " file.";
        } else if constexpr (std::is_same_v<Kind, OutputUnwritable>) {
          return "\nError: cannot write output file " + Shown(outputName) + ".";
        } else {
          static_assert(std::is_same_v<Kind, OutputNotReplaced>, "every kind has its message");
          return "\nError: cannot replace output file " + Shown(outputName) +
                 "; the merged file is kept as " + Shown(kind.keptAs) + ".";
        }
      },
      failure);
}

}  // namespace bonesplice::messages
