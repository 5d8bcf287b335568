// The bone dump that "-l" appends to bone.log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "platform/file_id.h"

namespace bonesplice {

inline constexpr char kBoneLogName[] = "bone.log";

// Appends the reports of base and then donor (bonesplice_dump) to bone.log in the working
// directory, opened once for both, so that a FIFO's reader gets every report. Returns the
// message that refuses the dump: the log cannot be opened or written, or is one of sources
// (then nothing is appended), or memory ran out.
std::optional<std::string> DumpBones(ByteView base, ByteView donor,
                                     const std::vector<platform::FileId>& sources);

}  // namespace bonesplice
