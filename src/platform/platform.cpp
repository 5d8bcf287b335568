#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <random>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: io.h is the C library's, for the handle behind a stream.
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#endif

namespace bonesplice::platform {
namespace {

// Bytes gathered before a write to the output reaches the system.
constexpr size_t kOutputBuffer = size_t{128} << 10;
constexpr char kTempInfix[] = ".bonesplice-";
constexpr int kTempAttempts = 16;

// Read faults in a mapped input are caught for these mappings, so that a file another program
// shortens during the run reads as zeros instead of ending the program.
struct GuardSlot {
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> length{0};
  std::atomic<int> faulted{0};
  std::atomic<int> replaced{0};  // Windows: the view was swapped for zeroed memory
};
constexpr int kGuardSlots = 4;
GuardSlot guardSlots[kGuardSlots];

int TakeGuardSlot(const uint8_t* data, size_t length) {
  for (int i = 0; i < kGuardSlots; ++i) {
    GuardSlot& slot = guardSlots[i];
    if (slot.length.load() != 0) continue;
    slot.faulted = 0;
    slot.replaced = 0;
    slot.start = reinterpret_cast<uintptr_t>(data);
    slot.length = length;
    return i;
  }
  return -1;
}

void ReleaseGuardSlot(int index) {
  if (index >= 0) guardSlots[index].length = 0;
}

// The guarded mapping that holds address, or -1.
int GuardSlotOf(uintptr_t address) {
  for (int i = 0; i < kGuardSlots; ++i) {
    size_t length = guardSlots[i].length.load();
    if (length != 0 && address - guardSlots[i].start.load() < length) return i;
  }
  return -1;
}

std::string TempSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t bits = RandomKey();
  std::string suffix = kTempInfix;
  for (int i = 0; i < 6; ++i) {
    suffix += kLetters[bits % 36];
    bits /= 36;
  }
  return suffix;
}

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

}  // namespace

bool SameFile(const FileId& a, const FileId& b) {
  return a.valid && b.valid && a.volume == b.volume && a.indexLow == b.indexLow &&
         a.indexHigh == b.indexHigh;
}

uint64_t RandomKey() {
  uint64_t key = 0;
  try {
    std::random_device device;
    key = uint64_t{device()} << 32 ^ device();
  } catch (...) {
    // No system source of randomness: the clock and the address layout still vary.
  }
  int local = 0;
  key ^= Mix(
      static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  key ^= Mix(reinterpret_cast<uintptr_t>(&local) ^ 0x9E3779B97F4A7C15ull);
  return Mix(key);
}

bool InputFile::failed() const {
  return failedRead_ || (guardSlot_ >= 0 && guardSlots[guardSlot_].faulted.load() != 0) ||
         (handle_ != -1 && CurrentStamp() != opened_);
}

void InputFile::MarkFailed() {
  failedRead_ = true;
}

#ifdef _WIN32

// ============================================================================================
// Windows
// ============================================================================================

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text, size_t size) {
  if (size == 0) return {};
  int length =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

std::string FromCodePage(UINT codePage, const char* data, size_t size) {
  if (size == 0) return {};
  int length = MultiByteToWideChar(codePage, 0, data, static_cast<int>(size), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, data, static_cast<int>(size), wide.data(), length);
  return Narrow(wide.data(), wide.size());
}

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

intptr_t FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

FileId IdentityOfHandle(HANDLE handle) {
  FileId id;
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return id;
  id.valid = true;
  id.volume = info.dwVolumeSerialNumber;
  id.indexLow = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return id;
}

// The temporary file that Ctrl+C, Ctrl+Break or closing the console deletes, or nullptr.
std::atomic<const wchar_t*> cleanupPath{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (const wchar_t* path = cleanupPath.load()) DeleteFileW(path);
      break;
    default:
      break;
  }
  return FALSE;  // the system's own handling ends the process as it would have
}

// A read of a mapped file that the system cannot satisfy: the view is swapped for zeroed
// memory and marked, so that the read completes and the caller learns of it afterwards.
LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  int index = GuardSlotOf(static_cast<uintptr_t>(record->ExceptionInformation[1]));
  if (index < 0) return EXCEPTION_CONTINUE_SEARCH;
  GuardSlot& slot = guardSlots[index];
  void* start = reinterpret_cast<void*>(slot.start.load());
  UnmapViewOfFile(start);
  void* zeros = VirtualAlloc(start, slot.length.load(), MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  if (zeros != start) return EXCEPTION_CONTINUE_SEARCH;
  slot.replaced = 1;
  slot.faulted = 1;
  return EXCEPTION_CONTINUE_EXECUTION;
}

void CatchMappedReadFaults() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  AddVectoredExceptionHandler(1, OnException);
}

// Input bytes not yet handed out by ReadStandardInputByte.
std::string pendingInput;
size_t pendingAt = 0;
std::string heldBack;  // an incomplete UTF-8 sequence at the end of the last piped chunk

// How many leading bytes of data form whole, valid UTF-8; *valid is false when a sequence
// before the last few bytes is broken.
size_t WholeUtf8(const unsigned char* data, size_t size, bool* valid) {
  size_t i = 0;
  *valid = true;
  while (i < size) {
    unsigned char c = data[i];
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0) {
      *valid = false;
      return i;
    }
    if (i + length > size) return i;  // cut by the end of the chunk
    for (size_t k = 1; k < length; ++k) {
      if ((data[i + k] & 0xC0) != 0x80) {
        *valid = false;
        return i;
      }
    }
    i += length;
  }
  return i;
}

bool RefillInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  DWORD mode;
  if (GetConsoleMode(input, &mode)) {
    wchar_t wide[1024];
    DWORD got = 0;
    if (!ReadConsoleW(input, wide, 1024, &got, nullptr) || got == 0) return false;
    if (wide[0] == 0x1A) return false;  // Ctrl+Z at the start of a line ends console input
    pendingInput = Narrow(wide, got);
  } else {
    char bytes[4096];
    DWORD got = 0;
    if (!ReadFile(input, bytes, sizeof bytes, &got, nullptr) || got == 0) {
      if (heldBack.empty()) return false;
      pendingInput = FromCodePage(CP_ACP, heldBack.data(), heldBack.size());
      heldBack.clear();
      pendingAt = 0;
      return true;
    }
    std::string chunk = heldBack + std::string(bytes, got);
    bool valid;
    size_t whole =
        WholeUtf8(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size(), &valid);
    if (valid) {
      heldBack = chunk.substr(whole);
      pendingInput = chunk.substr(0, whole);
    } else {
      // Not UTF-8: text from a console program in the console's own code page.
      UINT codePage = GetConsoleCP();
      heldBack.clear();
      pendingInput = FromCodePage(codePage != 0 ? codePage : CP_ACP, chunk.data(), chunk.size());
    }
  }
  pendingAt = 0;
  return true;
}

}  // namespace

void PrepareProcess() {
  const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (DWORD kind : kinds) {
    HANDLE handle = GetStdHandle(kind);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    DWORD access = kind == STD_INPUT_HANDLE ? GENERIC_READ : GENERIC_WRITE;
    HANDLE null = CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (null != INVALID_HANDLE_VALUE) SetStdHandle(kind, null);
  }
  // No message boxes for drives without media; a failed open is reported as such.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::vector<std::string> WideArguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Narrow(argv[i], wcslen(argv[i])));
  return arguments;
}

void WriteStandardOutput(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode;
  if (GetConsoleMode(output, &mode)) {
    std::wstring wide = Wide(text);
    size_t at = 0;
    while (at < wide.size()) {
      DWORD piece = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(output, wide.data() + at, piece, &written, nullptr) || written == 0) {
        return;
      }
      at += written;
    }
    return;
  }
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  size_t at = 0;
  while (at < lines.size()) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(lines.size() - at, size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(output, lines.data() + at, piece, &written, nullptr) || written == 0) return;
    at += written;
  }
}

int ReadStandardInputByte() {
  while (pendingAt == pendingInput.size()) {
    pendingInput.clear();
    pendingAt = 0;
    if (!RefillInput()) return -1;
  }
  return static_cast<unsigned char>(pendingInput[pendingAt++]);
}

bool IsOnlyProcessOfConsole() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForEnter() {
  HANDLE console =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  FlushConsoleInputBuffer(console);
  for (;;) {
    wchar_t c = 0;
    DWORD got = 0;
    if (!ReadConsoleW(console, &c, 1, &got, nullptr) || got == 0 || c == L'\r' || c == L'\n') {
      break;
    }
  }
  CloseHandle(console);
}

FileId IdentityOfPath(const std::string& path) {
  HANDLE handle =
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileId id = IdentityOfHandle(handle);
  CloseHandle(handle);
  return id;
}

FileId IdentityOfStream(std::FILE* stream) {
  return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool IsDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
  size_t start = path.find_last_of("/\\:");
  std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (upper == device) return true;
  }
  if (upper.size() >= 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
    std::string number = upper.substr(3);
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
    if (number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3") return true;
  }
  return false;
}

InputFile::~InputFile() {
  if (mapped_) {
    bool replaced = guardSlot_ >= 0 && guardSlots[guardSlot_].replaced.load() != 0;
    void* start = const_cast<uint8_t*>(data_);
    if (replaced) {
      VirtualFree(start, 0, MEM_RELEASE);
    } else {
      UnmapViewOfFile(start);
    }
  }
  ReleaseGuardSlot(guardSlot_);
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

OpenStatus InputFile::Open(const std::string& path) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return OpenStatus::kCannotOpen;
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return OpenStatus::kNotRegular;
  }
  handle_ = FromHandle(handle);
  id_ = IdentityOfHandle(handle);
  fileSize_ = static_cast<uint64_t>(size.QuadPart);
  opened_ = CurrentStamp();
  return OpenStatus::kOk;
}

InputFile::Stamp InputFile::CurrentStamp() const {
  Stamp stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(AsHandle(handle_), &info)) {
    stamp.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    stamp.modified =
        uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 | info.ftLastWriteTime.dwLowDateTime;
  }
  return stamp;
}

LoadStatus InputFile::Load() {
  if (fileSize_ == 0) return LoadStatus::kOk;
  if (fileSize_ > SIZE_MAX) return LoadStatus::kOutOfMemory;
  HANDLE mapping = CreateFileMappingW(AsHandle(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping != nullptr) {
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);  // the view keeps the mapping alive
    if (view != nullptr) {
      data_ = static_cast<const uint8_t*>(view);
      size_ = static_cast<size_t>(fileSize_);
      mapped_ = true;
      CatchMappedReadFaults();
      guardSlot_ = TakeGuardSlot(data_, size_);
      return LoadStatus::kOk;
    }
  }
  try {
    copy_.resize(static_cast<size_t>(fileSize_));
  } catch (const std::bad_alloc&) {
    return LoadStatus::kOutOfMemory;
  }
  size_t got = 0;
  while (got < copy_.size()) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(copy_.size() - got, size_t{1} << 30));
    DWORD read = 0;
    if (!ReadFile(AsHandle(handle_), copy_.data() + got, piece, &read, nullptr)) {
      return LoadStatus::kReadFailed;
    }
    if (read == 0) break;
    got += read;
  }
  copy_.resize(got);
  data_ = copy_.data();
  size_ = copy_.size();
  return LoadStatus::kOk;
}

OutputFile::~OutputFile() {
  if (tempHandle_ != -1) Abandon();
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

bool OutputFile::Open(const std::string& path) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = FromHandle(handle);
  regular_ = GetFileType(handle) == FILE_TYPE_DISK;
  id_ = IdentityOfHandle(handle);
  target_ = path;
  wchar_t final[4096];
  DWORD length = GetFinalPathNameByHandleW(handle, final, 4096, FILE_NAME_NORMALIZED);
  if (length > 0 && length < 4096) target_ = Narrow(final, length);
  return true;
}

bool OutputFile::Truncate() {
  if (!regular_) return true;
  LARGE_INTEGER zero{};
  return SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_BEGIN) &&
         SetEndOfFile(AsHandle(handle_));
}

namespace {
std::wstring tempPathWide;  // what cleanupPath points at while a temporary exists
}  // namespace

void OutputFile::Begin() {
  buffer_.reserve(kOutputBuffer);
  if (!regular_) return;
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    std::string path = target_ + TempSuffix();
    cleanupPath = nullptr;
    tempPathWide = Wide(path);
    HANDLE handle = CreateFileW(tempPathWide.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      cleanupPath = tempPathWide.c_str();
      tempHandle_ = FromHandle(handle);
      tempPath_ = path;
      return;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

bool OutputFile::WriteOut(const uint8_t* data, size_t size) {
  HANDLE handle = AsHandle(tempHandle_ != -1 ? tempHandle_ : handle_);
  while (size > 0) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(handle, data, piece, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool OutputFile::CopyFrom(InputFile& input, uint64_t offset, uint64_t length) {
  return Write(input.data() + offset, static_cast<size_t>(length));
}

bool OutputFile::RewriteStart(const uint8_t* data, size_t size) {
  if (!Flush()) return false;
  OVERLAPPED at{};  // offset 0; the handle is not overlapped, so the write completes here
  DWORD written = 0;
  HANDLE handle = AsHandle(tempHandle_ != -1 ? tempHandle_ : handle_);
  bool done = WriteFile(handle, data, static_cast<DWORD>(size), &written, &at) && written == size;
  failed_ = failed_ || !done;
  return done;
}

void OutputFile::CloseTemp() {
  if (tempHandle_ == -1) return;
  CloseHandle(AsHandle(tempHandle_));
  tempHandle_ = -1;
}

bool OutputFile::Commit() {
  bool written = Flush();
  if (tempPath_.empty()) return written;
  bool closed = CloseHandle(AsHandle(tempHandle_)) != 0;
  tempHandle_ = -1;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
  bool replaced = false;
  if (written && closed) {
    std::wstring target = Wide(target_);
    replaced = ReplaceFileW(target.c_str(), tempPathWide.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                            nullptr, nullptr) ||
               MoveFileExW(tempPathWide.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  if (!replaced) DeleteFileW(tempPathWide.c_str());
  cleanupPath = nullptr;
  tempPath_.clear();
  return replaced;
}

void OutputFile::Abandon() {
  buffer_.clear();
  if (!tempPath_.empty()) {
    CloseTemp();
    DeleteFileW(tempPathWide.c_str());
    cleanupPath = nullptr;
    tempPath_.clear();
    return;
  }
  if (handle_ != -1) Truncate();
}

void* AllocateLarge(size_t bytes) {
  if (bytes == 0) bytes = 1;
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLarge(void* memory, size_t) {
  if (memory != nullptr) VirtualFree(memory, 0, MEM_RELEASE);
}

#else

// ============================================================================================
// POSIX
// ============================================================================================

namespace {

FileId IdentityOfStat(const struct stat& status) {
  FileId id;
  id.valid = true;
  id.volume = static_cast<uint64_t>(status.st_dev);
  id.indexLow = static_cast<uint64_t>(status.st_ino);
  return id;
}

// What SIGINT, SIGTERM and SIGHUP clean up: the temporary output while it exists, or the
// output file being written in place. Plain memory, so that the handler may read it.
char cleanupPath[PATH_MAX + 64];
volatile sig_atomic_t cleanupPathSet = 0;
volatile sig_atomic_t cleanupInPlace = -1;

void OnEndSignal(int signal) {
  if (cleanupPathSet) unlink(cleanupPath);
  if (cleanupInPlace >= 0) (void)ftruncate(cleanupInPlace, 0);
  ::signal(signal, SIG_DFL);
  raise(signal);  // delivered once the handler returns: the program ends as it would have
}

long pageSize = 4096;

// A read past the end of a mapped input that another program has shortened: the page is
// replaced by a page of zeros and the mapping marked, so that the read completes.
void OnBusError(int signal, siginfo_t* info, void*) {
  int index = GuardSlotOf(reinterpret_cast<uintptr_t>(info->si_addr));
  if (index >= 0) {
    uintptr_t page = reinterpret_cast<uintptr_t>(info->si_addr) & ~uintptr_t(pageSize - 1);
    void* zeros = mmap(reinterpret_cast<void*>(page), static_cast<size_t>(pageSize), PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      guardSlots[index].faulted = 1;
      return;
    }
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void CatchMappedReadFaults() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  pageSize = sysconf(_SC_PAGESIZE);
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

// Sets path as what a signal removes; empty removes nothing.
void SetCleanupPath(const std::string& path) {
  cleanupPathSet = 0;
  if (path.empty() || path.size() >= sizeof cleanupPath) return;
  std::memcpy(cleanupPath, path.c_str(), path.size() + 1);
  cleanupPathSet = 1;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

constexpr size_t kLargePage = size_t{2} << 20;

size_t RoundUp(size_t size, size_t unit) {
  return (size + unit - 1) / unit * unit;
}

// Reserves length bytes (a whole number of pages) with access prot at an address aligned to a
// large page, so that the system can back them with large pages or map a file's large pages
// there: random reads then miss the address translation caches far less often. nullptr when
// there is no such room.
void* ReserveAligned(size_t length, int prot) {
  if (length > SIZE_MAX - kLargePage) return nullptr;
  void* reserved = mmap(nullptr, length + kLargePage, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) return nullptr;
  // The reservation on either side of the aligned range is given back.
  uintptr_t start = reinterpret_cast<uintptr_t>(reserved);
  uintptr_t aligned = RoundUp(start, kLargePage);
  if (aligned > start) munmap(reserved, aligned - start);
  uintptr_t end = aligned + length;
  uintptr_t reservedEnd = start + length + kLargePage;
  if (reservedEnd > end) munmap(reinterpret_cast<void*>(end), reservedEnd - end);
  return reinterpret_cast<void*>(aligned);
}

// Maps a file read-only, at an address aligned to a large page when it is that large.
void* MapAligned(size_t size, int fd) {
  if (size < kLargePage || size > SIZE_MAX - kLargePage) {
    return mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  }
  size_t length = RoundUp(size, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
  void* at = ReserveAligned(length, PROT_NONE);
  if (at == nullptr) return mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  void* view = mmap(at, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
  if (view != MAP_FAILED) return view;
  munmap(at, length);
  return mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
}

uint8_t inputBuffer[4096];
size_t inputEnd = 0;
size_t inputAt = 0;

}  // namespace

void PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is fd itself.
    int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int end : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    sigaction(end, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // started with it ignored: keep it so
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    sigaction(end, &action, nullptr);
  }
}

void WriteStandardOutput(const std::string& text) {
  WriteAll(STDOUT_FILENO, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

int ReadStandardInputByte() {
  while (inputAt == inputEnd) {
    ssize_t got = read(STDIN_FILENO, inputBuffer, sizeof inputBuffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return -1;
    inputAt = 0;
    inputEnd = static_cast<size_t>(got);
  }
  return inputBuffer[inputAt++];
}

bool IsOnlyProcessOfConsole() {
  return false;
}

void WaitForEnter() {}

FileId IdentityOfPath(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return {};
  return IdentityOfStat(status);
}

FileId IdentityOfStream(std::FILE* stream) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0) return {};
  return IdentityOfStat(status);
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool IsDeviceName(const std::string&) {
  return false;
}

InputFile::~InputFile() {
  if (mapped_) munmap(const_cast<uint8_t*>(data_), size_);
  ReleaseGuardSlot(guardSlot_);
  if (handle_ != -1) close(static_cast<int>(handle_));
}

OpenStatus InputFile::Open(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return OpenStatus::kCannotOpen;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return OpenStatus::kNotRegular;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  handle_ = fd;
  id_ = IdentityOfStat(status);
  fileSize_ = static_cast<uint64_t>(status.st_size);
  opened_ = CurrentStamp();
  return OpenStatus::kOk;
}

InputFile::Stamp InputFile::CurrentStamp() const {
  Stamp stamp;
  struct stat status;
  if (fstat(static_cast<int>(handle_), &status) == 0) {
#ifdef __APPLE__
    long nanoseconds = status.st_mtimespec.tv_nsec;
#else
    long nanoseconds = status.st_mtim.tv_nsec;
#endif
    stamp.size = static_cast<uint64_t>(status.st_size);
    stamp.modified =
        static_cast<uint64_t>(status.st_mtime) * 1000000000u + static_cast<uint64_t>(nanoseconds);
  }
  return stamp;
}

LoadStatus InputFile::Load() {
  if (fileSize_ == 0) return LoadStatus::kOk;
  if (fileSize_ > SIZE_MAX) return LoadStatus::kOutOfMemory;
  size_t size = static_cast<size_t>(fileSize_);
  void* view = MapAligned(size, static_cast<int>(handle_));
  if (view != MAP_FAILED) {
    data_ = static_cast<const uint8_t*>(view);
    size_ = size;
    mapped_ = true;
    CatchMappedReadFaults();
    guardSlot_ = TakeGuardSlot(data_, size_);
    return LoadStatus::kOk;
  }
  try {
    copy_.resize(size);
  } catch (const std::bad_alloc&) {
    return LoadStatus::kOutOfMemory;
  }
  size_t got = 0;
  while (got < size) {
    ssize_t n =
        pread(static_cast<int>(handle_), copy_.data() + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LoadStatus::kReadFailed;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  copy_.resize(got);
  data_ = copy_.data();
  size_ = copy_.size();
  return LoadStatus::kOk;
}

OutputFile::~OutputFile() {
  if (tempHandle_ != -1) Abandon();
  if (handle_ != -1) close(static_cast<int>(handle_));
}

bool OutputFile::Open(const std::string& path) {
  // Without O_NONBLOCK a FIFO nobody reads would hold the program here for good.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat status;
  if (fstat(fd, &status) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  regular_ = S_ISREG(status.st_mode);
  id_ = IdentityOfStat(status);
  target_ = path;
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    target_ = resolved;
    std::free(resolved);
  }
  return true;
}

bool OutputFile::Truncate() {
  return !regular_ || ftruncate(static_cast<int>(handle_), 0) == 0;
}

void OutputFile::Begin() {
  buffer_.reserve(kOutputBuffer);
  if (regular_) {
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      std::string path = target_ + TempSuffix();
      if (path.size() >= sizeof cleanupPath) break;
      SetCleanupPath(path);
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        tempHandle_ = fd;
        tempPath_ = path;
        return;
      }
      SetCleanupPath("");
      if (errno != EEXIST) break;
    }
  }
  if (regular_) cleanupInPlace = static_cast<int>(handle_);
}

bool OutputFile::WriteOut(const uint8_t* data, size_t size) {
  return WriteAll(static_cast<int>(tempHandle_ != -1 ? tempHandle_ : handle_), data, size);
}

bool OutputFile::CopyFrom(InputFile& input, uint64_t offset, uint64_t length) {
#ifdef __linux__
  // Inside the kernel: the bytes neither pass through this process nor count as its memory.
  if (!Flush()) return false;
  int out = static_cast<int>(tempHandle_ != -1 ? tempHandle_ : handle_);
  off_t from = static_cast<off_t>(offset);
  while (length > 0) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length, size_t{1} << 30));
    ssize_t copied =
        copy_file_range(static_cast<int>(input.handle_), &from, out, nullptr, piece, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied == 0) {
      input.MarkFailed();  // the file ends before the bytes its header promised
      return true;
    }
    if (copied < 0) {
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF || errno == ETXTBSY || errno == EPERM) {
        break;  // these two files cannot be copied between inside the kernel
      }
      failed_ = true;
      return false;
    }
    length -= static_cast<uint64_t>(copied);
  }
  offset = static_cast<uint64_t>(from);
  if (length == 0) return true;
#endif
  return Write(input.data() + offset, static_cast<size_t>(length));
}

bool OutputFile::RewriteStart(const uint8_t* data, size_t size) {
  if (!Flush()) return false;
  int fd = static_cast<int>(tempHandle_ != -1 ? tempHandle_ : handle_);
  ssize_t written = pwrite(fd, data, size, 0);
  failed_ = failed_ || written != static_cast<ssize_t>(size);
  return !failed_;
}

void OutputFile::CloseTemp() {
  if (tempHandle_ == -1) return;
  close(static_cast<int>(tempHandle_));
  tempHandle_ = -1;
}

bool OutputFile::Commit() {
  bool written = Flush();
  cleanupInPlace = -1;
  if (tempPath_.empty()) {
    bool closed = close(static_cast<int>(handle_)) == 0;
    handle_ = -1;
    return written && closed;
  }
  // The output keeps the permissions, and where allowed the owner, it had.
  struct stat status;
  int temp = static_cast<int>(tempHandle_);
  if (fstat(static_cast<int>(handle_), &status) == 0) {
    if (fchown(temp, status.st_uid, status.st_gid) != 0) {
      // Only the owner changes hands; the permissions below still apply.
    }
    fchmod(temp, status.st_mode & 07777);
  }
  bool closed = close(temp) == 0;
  tempHandle_ = -1;
  bool replaced = written && closed && rename(tempPath_.c_str(), target_.c_str()) == 0;
  if (!replaced) unlink(tempPath_.c_str());
  SetCleanupPath("");
  tempPath_.clear();
  close(static_cast<int>(handle_));
  handle_ = -1;
  return replaced;
}

void OutputFile::Abandon() {
  buffer_.clear();
  cleanupInPlace = -1;
  if (!tempPath_.empty()) {
    CloseTemp();
    unlink(tempPath_.c_str());
    SetCleanupPath("");
    tempPath_.clear();
    return;
  }
  if (handle_ != -1) Truncate();
}

void* AllocateLarge(size_t bytes) {
  if (bytes < kLargePage) {
    void* memory = mmap(nullptr, bytes == 0 ? 1 : bytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
  }
  if (bytes > SIZE_MAX - kLargePage) return nullptr;
  // Whole large pages, so that the system can back all of the table with them.
  size_t length = RoundUp(bytes, kLargePage);
  void* memory = ReserveAligned(length, PROT_READ | PROT_WRITE);
#ifdef MADV_HUGEPAGE
  if (memory != nullptr) madvise(memory, length, MADV_HUGEPAGE);
#endif
  return memory;
}

void FreeLarge(void* memory, size_t bytes) {
  if (memory == nullptr) return;
  munmap(memory, bytes < kLargePage ? (bytes == 0 ? 1 : bytes) : RoundUp(bytes, kLargePage));
}

#endif

bool OutputFile::Write(const uint8_t* data, size_t size) {
  if (failed_) return false;
  if (buffer_.size() + size > kOutputBuffer) {
    if (!Flush()) return false;
    if (size >= kOutputBuffer) {
      failed_ = !WriteOut(data, size);
      return !failed_;
    }
  }
  buffer_.insert(buffer_.end(), data, data + size);
  return true;
}

bool OutputFile::Flush() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    failed_ = !WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  return !failed_;
}

}  // namespace bonesplice::platform
