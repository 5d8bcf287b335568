#include "floor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "measure.h"

namespace bonesplice::bench {
namespace {

// The size cat copies with on this kind of system.
constexpr size_t kSmallBuffer = size_t{128} << 10;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads each input through buffer and writes what it read until left bytes are written.
bool StreamInputs(const std::string& base, const std::string& donor, int out, uint64_t& left) {
  std::vector<uint8_t> buffer(kSmallBuffer);
  for (const std::string& path : {base, donor}) {
    int in = open(path.c_str(), O_RDONLY);
    if (in < 0) return false;
    bool ok = true;
    for (;;) {
      ssize_t n = read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      size_t keep = static_cast<size_t>(std::min<uint64_t>(left, static_cast<uint64_t>(n)));
      if (!WriteAll(out, buffer.data(), keep)) {
        ok = false;
        break;
      }
      left -= keep;
    }
    close(in);
    if (!ok) return false;
  }
  return true;
}

bool WriteFromMemory(const std::string& base, const std::string& donor, int out, uint64_t& left) {
  std::optional<std::vector<uint8_t>> b = ReadWholeFile(base);
  std::optional<std::vector<uint8_t>> d = ReadWholeFile(donor);
  if (!b || !d) return false;
  for (const std::vector<uint8_t>* bytes : {&*b, &*d}) {
    size_t keep = static_cast<size_t>(std::min<uint64_t>(left, bytes->size()));
    if (!WriteAll(out, bytes->data(), keep)) return false;
    left -= keep;
  }
  return true;
}

}  // namespace

const char* FloorWord(FloorKind kind) {
  return kind == FloorKind::kStreaming ? "stream" : "memory";
}

bool ParseFloorWord(const std::string& word, FloorKind& kind) {
  for (FloorKind k : {FloorKind::kStreaming, FloorKind::kInMemory}) {
    if (word == FloorWord(k)) {
      kind = k;
      return true;
    }
  }
  return false;
}

int IoFloorMain(FloorKind kind, const std::string& base, const std::string& donor,
                const std::string& output, uint64_t outputBytes) {
  int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  uint64_t left = outputBytes;
  bool ok = kind == FloorKind::kStreaming ? StreamInputs(base, donor, out, left)
                                          : WriteFromMemory(base, donor, out, left);
  ok = close(out) == 0 && ok;
  return ok && left == 0 ? 0 : 1;
}

}  // namespace bonesplice::bench
