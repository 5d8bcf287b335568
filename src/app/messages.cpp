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
const char kNoOutputName[] = "\nError: no output filename given.";
const char kOutputHasControl[] = "\nError: output filename holds a control character.";
const char kOutputIsDevice[] = "\nError: output filename names a device, not a file.";
const char kOutputIsSource[] = "\nError: output file must not be one of the source files.";
const char kCannotOpenLog[] = "\nError: cannot open bone.log for appending.";
const char kLogIsSource[] = "\nError: bone.log must not be one of the source files.";
const char kPressEnter[] = "\nPress Enter to close this window.";

std::string NotRegular(FileRole file) {
  return "\nError: " + FileWord(file) + " file is not a regular file.";
}

std::string CannotCreateOutput(const std::string& outputName) {
  return "\nError: cannot create output file " + Shown(outputName) + ".";
}

std::string Progress(uint32_t frame) {
  return "\nEditing frame " + std::to_string(frame);
}

std::string FromLibrary(const char* message) {
  return "\n" + std::string(message);
}

}  // namespace bonesplice::messages
