// The I/O floors the merges are measured against, run as a mode of the benchmark program so
// that they are timed like the program: a process started, its files read and written.
#pragma once

#include <cstdint>
#include <string>

namespace bonesplice::bench {

// The first word of the benchmark's command line in its floor mode:
//   --io-floor stream|memory BASE DONOR OUTPUT BYTES
inline constexpr char kFloorMode[] = "--io-floor";

enum class FloorKind {
  // Every input byte read and outputBytes written through one small buffer, interleaved as
  // `cat base.gla donor.gla > file` does: the least any merge that reads its inputs must do.
  kStreaming,
  // Each input read whole into fresh memory first, then outputBytes written from there: what a
  // tool that holds its blocks in memory at least does.
  kInMemory,
};

// The word that names kind on the floor mode's command line; ParseFloorWord reads it back and
// is false for any other word.
const char* FloorWord(FloorKind kind);
bool ParseFloorWord(const std::string& word, FloorKind& kind);

// The floor as a program: reads base and donor to their end, writes outputBytes bytes (at most
// both inputs' size) to output and closes it. Returns the exit status, 0 when every read and
// write succeeded.
int IoFloorMain(FloorKind kind, const std::string& base, const std::string& donor,
                const std::string& output, uint64_t outputBytes);

}  // namespace bonesplice::bench
