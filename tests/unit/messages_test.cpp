// The console text of each way a merge fails, as the program prints it after the prompt.
#include "app/messages.h"

#include <gtest/gtest.h>

#include <string>

namespace bonesplice {
namespace {

TEST(Messages, EachFailureShowsItsOwnText) {
  const std::string damaged = "\nError: first file is damaged: ";
  struct Case {
    Failure failure;
    std::string text;
  };
  const Case cases[] = {
      {HeadersRefused{HeaderCheck::kBaseNotAnimation},
       "\nError, first file is not a .gla animation file."},
      {HeadersRefused{HeaderCheck::kDonorNotAnimation},
       "\nError, second file is not a .gla animation file."},
      {HeadersRefused{HeaderCheck::kBoneCountsDiffer},
       "\nError: can only merge frames from files with same number of bones."},
      {FileDamaged{FileRole::kBase, Damage::kEndsInHeader}, damaged + "it ends inside its header."},
      {FileDamaged{FileRole::kBase, Damage::kOffsetTablePastEnd},
       damaged + "its bone offset table runs past the end of the file."},
      {FileDamaged{FileRole::kBase, Damage::kSkeletonAfterFrames},
       damaged + "its skeleton offset lies after its frame array offset."},
      {FileDamaged{FileRole::kBase, Damage::kSkeletonOutsideBlock},
       damaged + "its skeleton does not lie between its bone offset table and its frame array."},
      {FileDamaged{FileRole::kBase, Damage::kSkeletonShort}, damaged + "its skeleton ends early."},
      {FileDamaged{FileRole::kBase, Damage::kFramesPastEnd},
       damaged + "its frame array runs past the end of the file."},
      {FileDamaged{FileRole::kBase, Damage::kBoneArrayAfterEnd},
       damaged + "its bone array offset lies after its end offset."},
      {FileDamaged{FileRole::kBase, Damage::kBoneArrayPastEnd},
       damaged + "its bone array runs past the end of the file."},
      {FileDamaged{FileRole::kBase, Damage::kBoneArrayPartialEntry},
       damaged + "its bone array is not a whole number of 14-byte entries."},
      {FileDamaged{FileRole::kDonor, Damage::kSkeletonShort},
       "\nError: second file is damaged: its skeleton ends early."},
      {NoDonorFrames{}, "\nError: second file has no frames."},
      {NoBones{}, "\nError: the files have no bones, so there is nothing to merge."},
      {MissingBone{"arm\x1B[2J\nhand\x7F"},
       "\nError: second file has no bone named arm\\x1B[2J\\x0Ahand\\x7F."},
      {BadFrameIndex{7, 912, 40},
       "\nError: second file is damaged: frame 7 refers to bone data entry 912 of 40."},
      {TooLarge{}, "\nError: the merged file would be too large for the format."},
      {InputUnreadable{FileRole::kBase}, "\nError: cannot read first file."},
      {InputUnreadable{FileRole::kDonor}, "\nError: cannot read second file."},
      {OutputUnwritable{}, "\nError: cannot write output file out\\x09put.gla."},
  };
  for (const Case& c : cases) EXPECT_EQ(messages::MessageOf(c.failure, "out\tput.gla"), c.text);
}

}  // namespace
}  // namespace bonesplice
