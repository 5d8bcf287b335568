// The bone dump report: one file's header and skeleton as readable text, the text that "-l"
// appends to bone.log.
#pragma once

#include <cstddef>
#include <functional>

#include "format/header.h"
#include "format/skeleton.h"

namespace bonesplice {

// Takes size bytes of text; false to refuse it.
using TextSink = std::function<bool(const char* text, size_t size)>;

// Hands sink the report of one file, front to back, with "\n" line ends: its header block,
// offsets, counts, scale and every bone of table. A -1 parent is shown as the bone's own index;
// an index that names no bone of table is shown with "(no such bone)". When table holds fewer
// whole bones than header.boneCount a closing line says so. The text goes out in pieces, so
// that a report of millions of bones is never held whole. False once sink refused a piece.
bool ReportBones(const AnimHeader& header, const BoneTable& table, const TextSink& sink);

}  // namespace bonesplice
