// The bone dump report that "-l" appends to bone.log.
#pragma once

#include <cstdio>
#include <string>

#include "format/header.h"
#include "format/skeleton.h"

namespace bonesplice {

inline constexpr char kBoneLogName[] = "bone.log";

// The report of one file: its header block, offsets, counts, scale and every bone of table.
// A -1 parent is shown as the bone's own index; an index that names no bone of table is shown
// with "(no such bone)". When table holds fewer whole bones than header.boneCount a closing
// line says so.
std::string FormatBoneReport(const AnimHeader& header, const BoneTable& table);

// Reads the skeleton of stream and appends its report to bone.log in the working directory,
// opening and closing the log by itself. False when the log cannot be opened or written.
bool DumpBones(std::FILE* stream, const AnimHeader& header);

}  // namespace bonesplice
