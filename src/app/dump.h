// The bone dump report that "-l" appends to bone.log.
#pragma once

#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/header.h"
#include "format/skeleton.h"
#include "platform/platform.h"

namespace bonesplice {

inline constexpr char kBoneLogName[] = "bone.log";

// The report of one file: its header block, offsets, counts, scale and every bone of table.
// A -1 parent is shown as the bone's own index; an index that names no bone of table is shown
// with "(no such bone)". When table holds fewer whole bones than header.boneCount a closing
// line says so.
std::string FormatBoneReport(const AnimHeader& header, const BoneTable& table);

enum class DumpStatus { kOk, kCannotOpenLog, kLogIsSource, kOutOfMemory };

// Reads the skeleton of file and appends its report to bone.log in the working directory,
// opening and closing the log by itself. Nothing is appended when the log is one of sources.
DumpStatus DumpBones(ByteView file, const AnimHeader& header,
                     const std::vector<platform::FileId>& sources);

}  // namespace bonesplice
