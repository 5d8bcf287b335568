#include "platform/signals.h"

#include <atomic>

#include "platform/guard_slots.h"
#include "platform/windows/windows.h"

namespace bonesplice::platform {
namespace {

// Everything the handlers read, and the only global of the program. The console control
// handler runs on a thread of its own, so the record is made of atomics and of a path that
// is never changed while temporary points at it.
struct HandlerState {
  std::wstring temporaryPath;
  std::atomic<const wchar_t*> temporary{nullptr};  // removed by a console event when set
  std::atomic<intptr_t> inPlace{-1};               // emptied by a console event when not -1
  std::atomic<int> writesHeld{0};                  // OutputWrite objects alive
  std::atomic<int> ending{0};  // set by a console event before it empties inPlace
  GuardSlot guards[kGuardSlots];
};
HandlerState state;

// Every console control event (Ctrl+C, Ctrl+Break, closing the console, logoff, shutdown)
// ends a console program: the output is cleaned up first.
BOOL WINAPI OnConsoleControl(DWORD) {
  if (const wchar_t* path = state.temporary.load()) DeleteFileW(path);
  if (intptr_t handle = state.inPlace.load(); handle != -1) {
    state.ending = 1;
    while (state.writesHeld.load() > 0) SwitchToThread();
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(AsHandle(handle), zero, nullptr, FILE_BEGIN)) {
      SetEndOfFile(AsHandle(handle));
    }
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
  int index = GuardSlotOf(state.guards, static_cast<uintptr_t>(record->ExceptionInformation[1]));
  if (index < 0) return EXCEPTION_CONTINUE_SEARCH;
  GuardSlot& slot = state.guards[index];
  void* start = reinterpret_cast<void*>(slot.start.load());
  UnmapViewOfFile(start);
  void* zeros = VirtualAlloc(start, slot.length.load(), MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  if (zeros != start) return EXCEPTION_CONTINUE_SEARCH;
  slot.replaced = 1;
  slot.faulted = 1;
  return EXCEPTION_CONTINUE_EXECUTION;
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

void RemoveOnSignal(const std::string& path) {
  state.temporary = nullptr;
  state.temporaryPath = Wide(path);
  state.temporary = state.temporaryPath.c_str();
}

void EmptyOnSignal(intptr_t handle) {
  state.inPlace = handle;
}

void ClearSignalCleanup() {
  state.temporary = nullptr;
  state.inPlace = -1;
}

int GuardMapping(const uint8_t* start, size_t length) {
  static bool installed = false;
  if (!installed) AddVectoredExceptionHandler(1, OnException);
  installed = true;
  return TakeGuardSlot(state.guards, start, length);
}

bool MappingFaulted(int guard) {
  return guard >= 0 && state.guards[guard].faulted.load() != 0;
}

// The handler runs on a thread of its own, which never holds a write.
OutputWrite::OutputWrite() {
  (void)savedMask_;
  state.writesHeld.fetch_add(1);
  allowed_ = state.ending.load() == 0;
}

OutputWrite::~OutputWrite() {
  state.writesHeld.fetch_sub(1);
}

bool ReleaseMappingGuard(int guard) {
  if (guard < 0) return false;
  bool replaced = state.guards[guard].replaced.load() != 0;
  state.guards[guard].length = 0;
  return replaced;
}

}  // namespace bonesplice::platform
