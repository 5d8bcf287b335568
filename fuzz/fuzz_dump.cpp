// Fuzz target for the bone dump report: any bytes as one animation file, reported as list mode
// does, without the log file.
#include <cstdint>
#include <string>

#include "api/report.h"
#include "format/header.h"
#include "format/skeleton.h"
#include "fuzz_input.h"

namespace bonesplice::fuzz {
namespace {

// A report holds at most this many characters per byte of the file (a child word of 4 bytes
// becomes a line naming its bone, whose 64 name bytes may each show as 4 characters, \xNN), plus
// the header block and the bone the file ends in.
constexpr size_t kReportBytesPerFileByte = 80;
constexpr size_t kReportFixedBytes = 8192;

void ReportOneFile(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  AnimHeader header;
  ReadHeader(file.view(), header);
  BoneTable table = ReadSkeleton(file.view(), header);
  std::string report;
  Require(ReportBones(header, table,
                      [&report](const char* text, size_t length) {
                        report.append(text, length);
                        return true;
                      }),
          "the report is written");
  Require(report.size() <= kReportBytesPerFileByte * size + kReportFixedBytes,
          "the report is proportional to the file's size");
  Require(report.find("Header - ") != std::string::npos, "the report shows the header");
}

}  // namespace
}  // namespace bonesplice::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bonesplice::fuzz::ReportOneFile(data, size);
  return 0;
}
