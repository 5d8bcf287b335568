// How a merge fails: one value, a kind and the details that kind needs. Check, Resolve and Emit
// report failure only this way; src/app/ turns it into the message and the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "format/header.h"
#include "format/layout.h"

namespace bonesplice {

enum class FileRole { kBase, kDonor };

// The headers do not pass CheckHeaders.
struct HeadersRefused {
  HeaderCheck check;
};
// A block of an input does not lie where its header says.
struct FileDamaged {
  FileRole file;
  Damage damage;
};
// The donor's frameCount is 0: there is not even the frame that is left out.
struct NoDonorFrames {};
// Both files have no bones, so their frames hold nothing.
struct NoBones {};
// A base bone has no donor bone of the same name.
struct MissingBone {
  std::string name;
};
// A donor frame (numbered from 0 as stored) names an entry past the donor's last.
struct BadFrameIndex {
  uint64_t frame;
  uint32_t index;
  uint32_t entryCount;
};
// The output would pass 4 GiB or hold more entries than a 24-bit index names.
struct TooLarge {};
// An input could not be read whole, or another program changed it during the run.
struct InputUnreadable {
  FileRole file;
};
// The output could not be written: its temporary could not be created, or a write or a close
// failed.
struct OutputUnwritable {};
// The finished merge could not replace the output, neither by a rename nor by a copy in place;
// it is kept under the temporary's name.
struct OutputNotReplaced {
  std::string keptAs;
};

using Failure =
    std::variant<HeadersRefused, FileDamaged, NoDonorFrames, NoBones, MissingBone, BadFrameIndex,
                 TooLarge, InputUnreadable, OutputUnwritable, OutputNotReplaced>;

}  // namespace bonesplice
