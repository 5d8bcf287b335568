// What the C library does not do the same way on every system: file names as the user gave
// them, file identity, 64-bit sizes, read-only file mappings, a temporary output that replaces
// its target atomically, the console, large tables and the signals that end the program.
// This file pair is the only place that knows which system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Compiler hints, where the compiler has them: a read the processor may start early, and a
// printf-style format string that the compiler checks against its arguments.
#if defined(__GNUC__) || defined(__clang__)
#define BONESPLICE_PREFETCH(address) __builtin_prefetch(address)
#define BONESPLICE_PRINTF_FORMAT(string, first) __attribute__((format(printf, string, first)))
#else
#define BONESPLICE_PREFETCH(address) ((void)(address))
#define BONESPLICE_PRINTF_FORMAT(string, first)
#endif

namespace bonesplice::platform {

// ---- The process

// Called once before any file is opened. Makes the three standard descriptors (standard
// handles on Windows) valid, opening the null device onto any that is closed, so that no file
// the program opens can take their place. Ignores SIGPIPE and SIGXFSZ, so that a console closed
// early or a file-size limit turns into a failed write instead of ending the program. Has
// SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break and closing the console on Windows) remove the
// output's temporary file before they end the program as they would have.
void PrepareProcess();

// Windows: the wide command-line arguments of wmain, argv[0] included, as UTF-8, so that names
// outside the active code page survive.
std::vector<std::string> WideArguments(int argc, wchar_t** argv);

// 64 bits that differ from run to run and cannot be guessed by whoever wrote the input files.
uint64_t RandomKey();

// ---- The console

// Writes text (UTF-8) to standard output. On Windows a console gets it as wide text and any
// other standard output gets CRLF line ends, as a text stream would. Failures are ignored: a
// closed console never stops the program.
void WriteStandardOutput(const std::string& text);

// The next byte of standard input, -1 at its end or on an error. On Windows a console's input
// is read as wide text and piped input that is not UTF-8 is taken in the console's input code
// page; both reach the caller as UTF-8.
int ReadStandardInputByte();

// True on Windows when this process is the only one attached to its console, that is when it
// was started from Explorer and its window closes as soon as it ends.
bool IsOnlyProcessOfConsole();

// Waits until Enter is pressed on the console.
void WaitForEnter();

// ---- Files

// Names one file whatever path leads to it: device and inode on POSIX, volume serial number
// and file index on Windows.
struct FileId {
  bool valid = false;
  uint64_t volume = 0;
  uint64_t indexLow = 0;
  uint64_t indexHigh = 0;
};

bool SameFile(const FileId& a, const FileId& b);

// The identity of the file path names (symbolic links followed); invalid when there is none.
FileId IdentityOfPath(const std::string& path);

// The identity of the file behind an open stream.
FileId IdentityOfStream(std::FILE* stream);

// fopen with a UTF-8 file name.
std::FILE* OpenStream(const std::string& path, const char* mode);

// True when path names a device rather than a file on this system whatever folder it is in
// ("CON", "aux.gla", "COM1" and the like on Windows; never on POSIX).
bool IsDeviceName(const std::string& path);

enum class OpenStatus { kOk, kCannotOpen, kNotRegular };
enum class LoadStatus { kOk, kOutOfMemory, kReadFailed };

// An input file, opened once and then seen as its bytes.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path for reading without waiting for a writer (a FIFO does not hang). Anything but a
  // regular file is kNotRegular and is closed again.
  OpenStatus Open(const std::string& path);

  // Makes the whole file visible through data() and size(): mapped read-only where the system
  // can, read into memory otherwise.
  LoadStatus Load();

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  FileId id() const { return id_; }

  // True once reading the file failed after Load, because the device failed or another
  // program shortened the file (the bytes concerned then read as zeros), or when the file's
  // size or modification time is no longer what it was at Open. Either way the caller must
  // not trust what it built from the bytes.
  bool failed() const;

 private:
  friend class OutputFile;
  void MarkFailed();

  // The file's size and modification time, as the system reports them.
  struct Stamp {
    uint64_t size = 0;
    uint64_t modified = 0;
    bool operator!=(const Stamp& other) const {
      return size != other.size || modified != other.modified;
    }
  };
  Stamp CurrentStamp() const;

  intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
  FileId id_;
  Stamp opened_;
  uint64_t fileSize_ = 0;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  int guardSlot_ = -1;  // the mapping's place among those whose read faults are caught
  bool failedRead_ = false;
  std::vector<uint8_t> copy_;  // the file's bytes where it could not be mapped
};

// The output file named at the prompt.
//
// Writing goes to a temporary file created beside it, named after it followed by
// ".bonesplice-" and six random letters and digits, which replaces it only at Commit, so that
// the name never shows a partial file. Where the name is a symbolic link the temporary goes
// beside the link's target and replaces the target. Where no file can be made there (the name
// is a device or a FIFO, or the folder refuses new files, or the name is too long for a
// suffix), the output is written in place instead.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens path for writing, creating an empty file when there is none, without emptying an
  // existing one. False when it cannot be opened.
  bool Open(const std::string& path);
  FileId id() const { return id_; }
  // Empties the file opened; a device or FIFO is left as it is.
  bool Truncate();

  // Starts the write: creates the temporary file, or settles for writing in place.
  void Begin();
  bool Write(const uint8_t* data, size_t size);
  // Writes length bytes of input from offset, inside the system where it can copy between
  // files without the bytes passing through this process.
  bool CopyFrom(InputFile& input, uint64_t offset, uint64_t length);
  // True when what is written goes to a regular file, whose first bytes can be written again.
  bool seekable() const { return regular_; }
  // Writes size bytes again at the start of what was written.
  bool RewriteStart(const uint8_t* data, size_t size);
  // Flushes and closes what was written and, for a temporary, gives it the output's
  // permissions and renames it over the output. False when any of it failed; the output then
  // keeps what it held before Begin.
  bool Commit();
  // Drops what was written: removes the temporary, or empties a regular file written in place.
  void Abandon();

 private:
  bool Flush();
  bool WriteOut(const uint8_t* data, size_t size);
  void CloseTemp();

  intptr_t handle_ = -1;      // the output as opened at the prompt
  intptr_t tempHandle_ = -1;  // the temporary, when there is one
  bool regular_ = false;
  bool failed_ = false;
  FileId id_;
  std::string target_;    // the file the output name leads to, links resolved
  std::string tempPath_;  // the temporary's name, empty when writing in place
  std::vector<uint8_t> buffer_;
};

// ---- Large tables

// Zero-filled memory for a table of bytes, where the system allows in large pages so that
// first use costs fewer page faults; nullptr when there is not enough memory.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* memory, size_t bytes);

// A fixed number of zero-filled elements in memory from AllocateLarge. Throws std::bad_alloc
// when there is not enough memory.
template <typename T>
class LargeArray {
  static_assert(std::is_trivially_copyable_v<T>, "the memory is only ever zero-filled");

 public:
  LargeArray() = default;
  explicit LargeArray(size_t count) : count_(count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    data_ = static_cast<T*>(AllocateLarge(count * sizeof(T)));
    if (data_ == nullptr) throw std::bad_alloc();
  }
  ~LargeArray() { FreeLarge(data_, count_ * sizeof(T)); }
  LargeArray(LargeArray&& other) noexcept { swap(other); }
  LargeArray& operator=(LargeArray&& other) noexcept {
    LargeArray gone(std::move(other));
    swap(gone);
    return *this;
  }
  LargeArray(const LargeArray&) = delete;
  LargeArray& operator=(const LargeArray&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return count_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  void swap(LargeArray& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(count_, other.count_);
  }

 private:
  T* data_ = nullptr;
  size_t count_ = 0;
};

}  // namespace bonesplice::platform
