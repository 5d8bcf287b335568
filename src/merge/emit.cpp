#include "merge/emit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "format/bytes.h"
#include "merge/workers.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

// The largest piece copied from the base: big enough that a copy costs little per byte, small
// enough that pieces spread over the threads. Pieces made in memory are smaller, so that the
// buffer each thread reuses for them stays in its cache and no fresh memory is written.
constexpr uint64_t kPieceBytes = uint64_t{1} << 20;
constexpr uint64_t kMadePieceBytes = uint64_t{128} << 10;
constexpr size_t kGatherAhead = 32;

// One piece of the output: length bytes at offset, from memory, from the base file, made of
// appended frames, or gathered appended entries.
struct Piece {
  enum class From { kMemory, kBase, kAppendedFrames, kAppendedEntries };
  From from;
  uint64_t offset;
  uint64_t length;
  const uint8_t* bytes = nullptr;  // kMemory
  // kBase: the base offset; kAppendedFrames: the first frame; kAppendedEntries: the first entry
  uint64_t source = 0;
};

class Layout {
 public:
  void Add(Piece::From from, uint64_t length, const uint8_t* bytes, uint64_t source) {
    if (length > 0) pieces_.push_back({from, end_, length, bytes, source});
    end_ += length;
  }
  // length bytes from the base in pieces of at most kPieceBytes.
  void SplitBase(uint64_t length, uint64_t source) {
    for (uint64_t done = 0; done < length; done += kPieceBytes) {
      Add(Piece::From::kBase, std::min(kPieceBytes, length - done), nullptr, source + done);
    }
  }
  // count items of itemBytes each (frames or entries) in pieces of about kMadePieceBytes.
  void SplitMade(Piece::From from, uint64_t count, uint64_t itemBytes) {
    uint64_t perPiece = std::max<uint64_t>(1, kMadePieceBytes / itemBytes);
    for (uint64_t done = 0; done < count; done += perPiece) {
      Add(from, std::min(perPiece, count - done) * itemBytes, nullptr, done);
    }
  }
  const std::vector<Piece>& pieces() const { return pieces_; }

 private:
  std::vector<Piece> pieces_;
  uint64_t end_ = 0;
};

// Hands the pieces of an output that takes them front to back over in their order: each waits
// until the pieces before it are written.
class Turns {
 public:
  void Wait(size_t piece) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return next_ == piece || stopped_; });
  }
  void Done() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++next_;
    }
    changed_.notify_all();
  }
  // Lets every waiting piece go, as after a failed write.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;
  bool stopped_ = false;
};

// Copies count appended entries from first on out of the donor's bone array into out.
void GatherEntries(const uint8_t* donorEntries, const AppendedEntryList& appended, size_t first,
                   size_t count, uint8_t* out) {
  const uint32_t* indices = appended.donorIndices.data();
  auto entry = [&](size_t p) { return donorEntries + size_t{indices[p]} * kBoneDataEntrySize; };
  for (size_t i = 0; i < count; ++i) {
    size_t p = first + i;
    if (p + kGatherAhead < appended.count) BONESPLICE_PREFETCH(entry(p + kGatherAhead));
    std::memcpy(out + i * kBoneDataEntrySize, entry(p), kBoneDataEntrySize);
  }
}

}  // namespace

std::optional<Failure> EmitMerge(const MergePlan& plan, const Resolution& resolution,
                                 ByteView donor, MergeOutput& output, unsigned threads) {
  const FileLayout& base = plan.base;
  const std::array<uint8_t, kHeaderSize> header = EncodeHeader(resolution.outputHeader);
  const AppendedEntryList& appended = resolution.appendedEntryList;
  Layout layout;
  layout.Add(Piece::From::kMemory, header.size(), header.data(), 0);
  layout.Add(Piece::From::kBase, base.offsetTableBytes, nullptr, kHeaderSize);
  layout.Add(Piece::From::kBase, base.skeletonBytes, nullptr, base.header.skeletonInfoOffset);
  layout.SplitBase(base.frameBytes * base.header.frameCount, base.header.frameArrayOffset);
  layout.SplitMade(Piece::From::kAppendedFrames, plan.donor.header.frameCount - uint64_t{1},
                   plan.donor.frameBytes);
  layout.SplitBase(base.boneArrayBytes, base.header.boneArrayOffset);
  layout.SplitMade(Piece::From::kAppendedEntries, appended.count, kBoneDataEntrySize);
  if (!output.Begin()) return OutputUnwritable{};

  const std::vector<Piece>& pieces = layout.pieces();
  const bool atOffsets = output.TakesPiecesAtOffsets();
  const uint8_t* donorEntries = donor.data + plan.donor.header.boneArrayOffset;
  const DonorFrames frames{donor.data + plan.donor.header.frameArrayOffset, plan.donor.frameBytes,
                           &plan.boneNameMap};
  Workers workers(atOffsets ? threads : std::min(threads, 2u));
  std::vector<std::vector<uint8_t>> scratch(workers.count());  // one buffer for each thread
  std::atomic<bool> failed{false};
  Turns turns;
  auto writePiece = [&](size_t i, unsigned worker) {
    const Piece& piece = pieces[i];
    const uint8_t* bytes = piece.bytes;
    std::vector<uint8_t>& buffer = scratch[worker];
    if (piece.from == Piece::From::kAppendedFrames) {
      // Frames 1 onwards: appended frame k is donor frame k + 1.
      uint64_t count = piece.length / frames.frameBytes;
      buffer.resize(static_cast<size_t>(piece.length));
      frames.Reorder(piece.source + 1, count, buffer.data());
      RewriteFrames(buffer.data(), count, plan.donor.header.boneCount, resolution.remapTable);
      bytes = buffer.data();
    } else if (piece.from == Piece::From::kAppendedEntries) {
      buffer.resize(static_cast<size_t>(piece.length));
      GatherEntries(donorEntries, appended, static_cast<size_t>(piece.source),
                    static_cast<size_t>(piece.length / kBoneDataEntrySize), buffer.data());
      bytes = buffer.data();
    }
    if (!atOffsets) turns.Wait(i);
    bool written =
        !failed && (piece.from == Piece::From::kBase
                        ? output.CopyFromBaseAt(piece.offset, piece.source, piece.length)
                        : output.WriteAt(piece.offset, bytes, static_cast<size_t>(piece.length)));
    if (!written) {
      failed = true;
      turns.Stop();
    }
    if (!atOffsets) turns.Done();
  };
  workers.ForEach(pieces.size(), [&](size_t i, unsigned worker) {
    try {
      writePiece(i, worker);
    } catch (...) {
      failed = true;
      turns.Stop();  // no piece waits for one that will never be written
      throw;
    }
  });
  if (failed) return OutputUnwritable{};
  return std::nullopt;
}

}  // namespace bonesplice
