#include "app/messages.h"

namespace bonesplice::messages {

const char kBanner[] =
    "\n//=============================================="
    "\n//              Bonesplice 1.2b                 "
    "\n//  Appends the frames of one animation file    "
    "\n//  to another, bones matched by their names.   "
    "\n//  -o shares identical bone data entries,      "
    "\n//  -l writes both skeletons to bone.log.       "
    "\n//==============================================\n";

const char kUsage[] =
    "\nSyntax is bonesplice.exe source1 source2 [-l]|[-o]. If only source2 is passed, the file "
    "_humanoid.gla is opened, otherwise source2 is merged into source1.\n"
    "\n-l - Makes a bone dump of both files, then quits"
    "\n-o - Removes redundant bone data from the output file - saves space, however takes more "
    "time to complete";

const char kFilesNotFound[] = "\nError: One or more files not found....";
const char kPrompt[] = "\nEnter the output filename:";
const char kOutputNameTooLong[] = "\nError: output filename is longer than 255 characters.";
const char kNoOutputName[] = "\nError: no output filename given.";
const char kOutputIsSource[] = "\nError: output file must not be one of the source files.";
const char kSecondHasNoFrames[] = "\nError: second file has no frames.";
const char kNoBones[] = "\nError: the files have no bones, so there is nothing to merge.";
const char kTooLarge[] = "\nError: the merged file would be too large for the format.";
const char kCannotOpenLog[] = "\nError: cannot open bone.log for appending.";
const char kLogIsSource[] = "\nError: bone.log must not be one of the source files.";
const char kOutOfMemory[] = "\nError: not enough memory for the merge.";
const char kDumpOutOfMemory[] = "\nError: not enough memory for the bone dump.";
const char kOutputHasControl[] = "\nError: output filename holds a control character.";
const char kOutputIsDevice[] = "\nError: output filename names a device, not a file.";
const char kPressEnter[] = "\nPress Enter to close this window.";

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

const char* FileWord(bool donor) {
  return donor ? "second" : "first";
}

std::string NotRegular(bool donor) {
  return std::string("\nError: ") + FileWord(donor) + " file is not a regular file.";
}

std::string CannotCreateOutput(const std::string& name) {
  return "\nError: cannot create output file " + Shown(name) + ".";
}

std::string CannotWriteOutput(const std::string& name) {
  return "\nError: cannot write output file " + Shown(name) + ".";
}

std::string CannotRead(bool donor) {
  return std::string("\nError: cannot read ") + FileWord(donor) + " file.";
}

std::string Damaged(bool donor, const std::string& what) {
  return std::string("\nError: ") + FileWord(donor) + " file is damaged: " + what + ".";
}

std::string MissingBone(const std::string& name) {
  return "\nError: second file has no bone named " + Shown(name) + ".";
}

std::string BadFrameIndex(uint64_t frame, uint32_t index, uint64_t count) {
  return Damaged(true, "frame " + std::to_string(frame) + " refers to bone data entry " +
                           std::to_string(index) + " of " + std::to_string(count));
}

std::string Progress(uint32_t frame) {
  return "\nEditing frame " + std::to_string(frame);
}

namespace {

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

}  // namespace

std::string MergeFailure(const MergeOutcome& outcome, const std::string& outputName) {
  switch (outcome.error) {
    case MergeError::kNone:
      return "";
    case MergeError::kHeaderCheck:
      return HeaderCheckMessage(outcome.headerCheck);
    case MergeError::kDamaged:
      return Damaged(outcome.inDonor, DamageText(outcome.damage));
    case MergeError::kNoDonorFrames:
      return kSecondHasNoFrames;
    case MergeError::kNoBones:
      return kNoBones;
    case MergeError::kMissingBone:
      return MissingBone(outcome.boneName);
    case MergeError::kBadFrameIndex:
      return BadFrameIndex(outcome.frame, outcome.index, outcome.entryCount);
    case MergeError::kTooLarge:
      return kTooLarge;
    case MergeError::kReadFailed:
      return CannotRead(outcome.inDonor);
    case MergeError::kOutOfMemory:
      return kOutOfMemory;
    case MergeError::kWriteFailed:
      return CannotWriteOutput(outputName);
  }
  return "";
}

const char* HeaderCheckMessage(HeaderCheck check) {
  switch (check) {
    case HeaderCheck::kOk:
      return "";
    case HeaderCheck::kBaseNotAnimation:
      return "\nError, first file is not a .gla animation file.";
    case HeaderCheck::kDonorNotAnimation:
      return "\nError, second file is not a .gla animation file.";
    case HeaderCheck::kBoneCountsDiffer:
      return "\nError: can only merge frames from files with same number of bones.";
  }
  return "";
}

}  // namespace bonesplice::messages
