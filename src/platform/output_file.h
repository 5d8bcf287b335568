// The output file named at the prompt, written so that its name never shows a partial merge.
//
// What it promises, on every system:
// - Open creates the file, empty, when there is none, and leaves an existing one as it is;
//   Truncate then empties it, so that a merge refused later leaves an empty output.
// - Begin creates a temporary file beside the output, named after it followed by
//   ".bonesplice-" and six random letters and digits, or ".bonesplice-" and six letters and
//   digits alone where that name would be too long for the folder; where the output name is a
//   symbolic link, beside the link's target. Write and CopyFrom go there. Only where a temporary
//   cannot exist by nature do they go to the output itself, in place: the output is not a
//   regular file (a device, a FIFO), or its folder refuses new files while the file is
//   writable. Any other failure to create the temporary (no descriptors, inodes, space or
//   quota left) fails Begin, and the output keeps what it held.
// - Commit flushes and closes what was written, checking every write and every close, then
//   gives the temporary the output's permissions (and, where allowed, its owner) and renames it
//   over the output. Where the rename is refused (a sticky folder, a mount point), the finished
//   temporary is copied into the output in place and removed. When any step fails it returns
//   false and the output keeps what it held before Begin; if only the replacing failed, the
//   finished merge stays in the temporary, which keptTemporary() names.
// - Abandon removes the temporary, or empties a regular output written in place; so does the
//   destructor of an output begun and neither committed nor abandoned.
// - From Begin to Commit or Abandon, the end of the program (ending.h) removes the temporary or
//   empties the regular output written in place: no end that can be caught leaves a temporary
//   or a partial output behind. The temporary is handed to the end only once this run has
//   created it, and an output in place is taken back before it is closed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_id.h"
#include "platform/input_file.h"

namespace bonesplice::platform {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens path for writing, creating an empty file when there is none, without emptying an
  // existing one and without waiting for a FIFO's reader. False when it cannot be opened. Where
  // path is a symbolic link, the file it leads to is the one replaced later, the link staying.
  bool Open(const std::string& path);
  FileId id() const { return id_; }
  // Empties the file opened; a device or FIFO is left as it is.
  bool Truncate();

  // Starts the write: creates the temporary, or settles for writing in place where no
  // temporary can exist. False when the temporary cannot be created for another reason.
  bool Begin();
  // Writes that go on where the last one ended, gathered before they reach the system: size
  // bytes of data, or length bytes of input from offset.
  bool Write(const uint8_t* data, size_t size);
  bool CopyFrom(const InputFile& input, uint64_t offset, uint64_t length);
  // True when writes go to a regular file, the temporary or the output in place: then WriteAt
  // and CopyFromAt write at any offset, in any order, from several threads at once, unbuffered;
  // CopyFromAt copies inside the system where it can, without the bytes passing through this
  // process. Use one way of writing or the other for an output, not both.
  bool TakesWritesAtOffsets() const { return regular_; }
  bool WriteAt(uint64_t at, const uint8_t* data, size_t size);
  bool CopyFromAt(uint64_t at, const InputFile& input, uint64_t offset, uint64_t length);
  bool Commit();
  void Abandon();
  // After a Commit that could not replace the output: the temporary that holds the finished
  // merge; empty otherwise.
  const std::string& keptTemporary() const { return kept_; }

 private:
  // What an attempt to create the temporary came to.
  enum class Creation { kCreated, kExists, kNameTooLong, kFolderRefuses, kFailed };

  bool Flush();
  // Writes all of data at *at (which it advances), or where the last write ended when at is
  // null; false once any write has failed. Into a regular file in place it holds the end off.
  bool WriteAll(const uint8_t* data, size_t size, uint64_t* at);
  // Copies the finished temporary into the output, in place; false when any step fails.
  bool CopyTemporaryInPlace();
  // In one step: removes the temporary when asked, and leaves the end nothing to clean up.
  void LetGo(bool removeTemporary);
  // Where writes go: the temporary, or the output itself (which the end must then empty).
  intptr_t Destination() const { return temp_ != -1 ? temp_ : handle_; }
  bool InPlace() const { return temp_ == -1 && regular_; }

  // Each system's one write to Destination() of up to size bytes, at *at or where the last
  // write ended: the count written, or -1 when the system refuses.
  int64_t WriteSome(const uint8_t* data, size_t size, const uint64_t* at);
  // Each system's copy inside the system of up to length bytes of input from offset to at: the
  // count copied, the rest to be written from memory.
  uint64_t CopyInside(uint64_t at, const InputFile& input, uint64_t offset, uint64_t length);
  // Each system's steps of Begin, Commit and Abandon.
  Creation CreateTemporary(const std::string& path);  // sets temp_ when created
  void TakeOutputPermissions();  // POSIX: the temporary gets the output's permissions and owner
  // Renames the temporary over the output. Where that is refused, the output is open for the
  // copy in place (Windows closes it for the try and opens it again).
  bool ReplaceOutput();
  // Closes handle unless it is -1, and sets it to -1; false when the close fails.
  static bool Close(intptr_t& handle);

  intptr_t handle_ = -1;  // the output as opened at the prompt
  intptr_t temp_ = -1;    // the temporary, while it is open
  bool regular_ = false;
  bool begun_ = false;
  std::atomic<bool> failed_{false};
  FileId id_;
  std::string target_;         // the file the output name leads to, links resolved
  std::string temporaryPath_;  // empty when writing in place
  std::string kept_;           // the temporary kept by a Commit that could not replace
  std::vector<uint8_t> buffer_;
};

// The name of a temporary beside target: target followed by ".bonesplice-" and six random
// letters and digits; ".bonesplice-" and the six alone, in target's folder, with shortName or
// where the other name would pass 255 bytes.
std::string TemporaryName(const std::string& target, bool shortName);

}  // namespace bonesplice::platform
