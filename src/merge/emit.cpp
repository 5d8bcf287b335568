#include "merge/emit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "format/bytes.h"
#include "merge/workers.h"
#include "platform/compiler.h"

namespace bonesplice {
namespace {

// The largest piece: big enough that a write costs little per byte, small enough that pieces
// spread over the threads. Gathered entries go in smaller pieces, which stay in the cache.
constexpr uint64_t kPieceBytes = uint64_t{1} << 20;
constexpr size_t kEntriesPerPiece = (uint64_t{64} << 10) / kBoneDataEntrySize;
constexpr size_t kGatherAhead = 32;

// One piece of the output: length bytes at offset, from memory, from the base file, or
// gathered appended entries.
struct Piece {
  enum class From { kMemory, kBase, kAppendedEntries };
  From from;
  uint64_t offset;
  uint64_t length;
  const uint8_t* bytes = nullptr;  // kMemory
  uint64_t source = 0;             // kBase: the base offset; kAppendedEntries: the first entry
};

class Layout {
 public:
  void Add(Piece::From from, uint64_t length, const uint8_t* bytes, uint64_t source) {
    if (length > 0) pieces_.push_back({from, end_, length, bytes, source});
    end_ += length;
  }
  // length bytes in pieces of at most kPieceBytes, or of whole entries for appended entries.
  void Split(Piece::From from, uint64_t length, const uint8_t* bytes, uint64_t source) {
    uint64_t step =
        from == Piece::From::kAppendedEntries ? kEntriesPerPiece * kBoneDataEntrySize : kPieceBytes;
    for (uint64_t done = 0; done < length; done += step) {
      uint64_t part = std::min(step, length - done);
      if (from == Piece::From::kAppendedEntries) {
        Add(from, part, nullptr, source + done / kBoneDataEntrySize);
      } else if (from == Piece::From::kBase) {
        Add(from, part, nullptr, source + done);
      } else {
        Add(from, part, bytes + done, 0);
      }
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
    std::copy(entry(p), entry(p) + kBoneDataEntrySize, out + i * kBoneDataEntrySize);
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
  layout.Split(Piece::From::kBase, base.frameBytes * base.header.frameCount, nullptr,
               base.header.frameArrayOffset);
  layout.Split(Piece::From::kMemory, resolution.appendedFrames.size(),
               resolution.appendedFrames.data(), 0);
  layout.Split(Piece::From::kBase, base.boneArrayBytes, nullptr, base.header.boneArrayOffset);
  layout.Split(Piece::From::kAppendedEntries, uint64_t{appended.count} * kBoneDataEntrySize,
               nullptr, 0);
  if (!output.Begin()) return OutputUnwritable{};

  const std::vector<Piece>& pieces = layout.pieces();
  const bool atOffsets = output.TakesPiecesAtOffsets();
  const uint8_t* donorEntries = donor.data + plan.donor.header.boneArrayOffset;
  Workers workers(atOffsets ? threads : std::min(threads, 2u));
  std::vector<std::vector<uint8_t>> scratch(workers.count());
  std::atomic<bool> failed{false};
  Turns turns;
  auto writePiece = [&](size_t i, unsigned worker) {
    const Piece& piece = pieces[i];
    const uint8_t* bytes = piece.bytes;
    if (piece.from == Piece::From::kAppendedEntries) {
      std::vector<uint8_t>& buffer = scratch[worker];
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
