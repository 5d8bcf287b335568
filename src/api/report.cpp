#include "api/report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "api/messages.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

constexpr char kRule[] = "\n==============================================================\n";
constexpr char kNoSuchBone[] = "(no such bone)";

// Reports of files with very many bones or children are handed out in pieces of about
// this size, so that the report never has to be held in memory as a whole.
constexpr size_t kFlushSize = size_t{1} << 20;

// Collects report text and hands it to the sink whenever it has grown past kFlushSize.
class ReportWriter {
 public:
  explicit ReportWriter(const TextSink& sink) : sink_(sink) {}

  BONESPLICE_PRINTF_FORMAT(2, 3) void Append(const char* format, ...) {
    if (failed_) return;
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 0) {
      failed_ = true;
      return;
    }
    size_t start = text_.size();
    size_t size = static_cast<size_t>(length);
    text_.resize(start + size + 1);  // room for the NUL that vsnprintf writes
    va_start(args, format);
    std::vsnprintf(&text_[start], size + 1, format, args);
    va_end(args);
    text_.resize(start + size);
    if (text_.size() >= kFlushSize) Flush();
  }

  // Hands the pending text to the sink; false once the sink has refused any.
  bool Flush() {
    if (!text_.empty() && !failed_) {
      if (!sink_(text_.data(), text_.size())) failed_ = true;
      text_.clear();
    }
    return !failed_;
  }

 private:
  const TextSink& sink_;
  std::string text_;
  bool failed_ = false;
};

// The names of a table's bones as the report shows them: control bytes as \xNN, so that
// "cat bone.log" cannot clear or recolour a terminal and a name cannot split a record.
using ShownNames = std::vector<std::string>;

// The shown name of bone index, or a marker when no bone has that index.
const char* BoneName(const ShownNames& names, uint32_t index) {
  return index < names.size() ? names[index].c_str() : kNoSuchBone;
}

// A value as "%f" shows it; a non-finite one as "inf", "-inf", "nan" or "-nan" on every system,
// where C libraries differ in the sign they show for a NaN.
void AppendFloat(ReportWriter& out, float value, const char* after) {
  if (std::isfinite(value)) {
    out.Append("%f%s", double{value}, after);
    return;
  }
  const char* text =
      std::isnan(value) ? (std::signbit(value) ? "-nan" : "nan") : (value < 0 ? "-inf" : "inf");
  out.Append("%s%s", text, after);
}

void AppendMatrix(ReportWriter& out, const float* matrix) {
  for (int row = 0; row < 3; ++row) {
    out.Append("\n");
    for (int column = 0; column < 4; ++column) AppendFloat(out, matrix[row * 4 + column], " ");
  }
}

void AppendBone(ReportWriter& out, const BoneTable& table, const ShownNames& names,
                uint32_t index) {
  const SkeletonBone& bone = table.bones[index];
  out.Append("\n0x%x - %s:", index, names[index].c_str());
  out.Append("\n\tFLAGS: 0x%x", bone.flags);
  // A bone without parent is shown as its own parent.
  uint32_t parent = bone.parent == -1 ? index : static_cast<uint32_t>(bone.parent);
  out.Append("\n\tPARENT: index - 0x%x, name - %s", parent, BoneName(names, parent));
  out.Append("\n\tORIGIN:");
  AppendMatrix(out, bone.origin);
  out.Append("\n\tINVERSED ORIGIN:");
  AppendMatrix(out, bone.inversedOrigin);
  out.Append("\n\tNUMBER OF CHILDREN: %d", bone.childCount);
  for (uint32_t child : bone.children) {
    out.Append("\n\t\tIndex: 0x%x, Name: %s", child, BoneName(names, child));
  }
}

void AppendReport(ReportWriter& out, const AnimHeader& header, const BoneTable& table) {
  out.Append("%s", kRule);
  out.Append("Header - %s", messages::Shown(header.name).c_str());
  out.Append("%s", kRule);
  out.Append("\nSkeleton info offset: 0x%x", header.skeletonInfoOffset);
  out.Append("\nFrame array offset: 0x%x", header.frameArrayOffset);
  out.Append("\nBone array offset: 0x%x", header.boneArrayOffset);
  out.Append("\nEOF Offset: 0x%x", header.eofOffset);
  out.Append("\n");
  out.Append("\nNumber of bones: %d", static_cast<int>(header.boneCount));
  out.Append("\nNumber of frames: %d", static_cast<int>(header.frameCount));
  out.Append("\nScale: ");
  AppendFloat(out, header.scale, "\n\n");
  ShownNames names;
  names.reserve(table.bones.size());
  for (const SkeletonBone& bone : table.bones) names.push_back(messages::Shown(bone.name));
  // The reader never returns more than header.boneCount bones, so every index fits 32 bits.
  for (size_t i = 0; i < table.bones.size(); ++i) {
    AppendBone(out, table, names, static_cast<uint32_t>(i));
  }
  if (table.wholeBoneCount < header.boneCount) {
    out.Append("\nThe file holds only %u of %u bones.", table.wholeBoneCount, header.boneCount);
  }
}

}  // namespace

bool ReportBones(const AnimHeader& header, const BoneTable& table, const TextSink& sink) {
  ReportWriter out(sink);
  AppendReport(out, header, table);
  return out.Flush();
}

}  // namespace bonesplice
