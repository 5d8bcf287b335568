// The bone dump report that "-l" appends to bone.log.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "format/skeleton.h"
#include "platform/file_id.h"

namespace bonesplice {

inline constexpr char kBoneLogName[] = "bone.log";

// Writes the report of one file to log: its header block, offsets, counts, scale and every bone
// of table. A -1 parent is shown as the bone's own index; an index that names no bone of table
// is shown with "(no such bone)". When table holds fewer whole bones than header.boneCount a
// closing line says so. The text goes out in pieces, so that a report of millions of bones is
// never held whole. False when a write failed.
bool WriteBoneReport(std::FILE* log, const AnimHeader& header, const BoneTable& table);

// Reads the skeleton of file and appends its report to bone.log in the working directory,
// opening and closing the log by itself. Returns the message that refuses the dump: the log
// cannot be opened or written, or is one of sources (then nothing is appended). Throws
// std::bad_alloc when memory runs out.
std::optional<std::string> DumpBones(ByteView file, const AnimHeader& header,
                                     const std::vector<platform::FileId>& sources);

}  // namespace bonesplice
