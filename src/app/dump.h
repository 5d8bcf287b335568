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

// One file to report on: its bytes and its header as read.
struct DumpedFile {
  ByteView bytes;
  AnimHeader header;
};

// Reads the skeleton of each file and appends their reports, in order, to bone.log in the
// working directory, opened once for all of them, so that a FIFO's reader gets every report.
// Returns the message that refuses the dump: the log cannot be opened or written, or is one of
// sources (then nothing is appended). Throws std::bad_alloc when memory runs out.
std::optional<std::string> DumpBones(const std::vector<DumpedFile>& files,
                                     const std::vector<platform::FileId>& sources);

}  // namespace bonesplice
