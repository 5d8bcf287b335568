#include "platform/ending.h"

#include <csignal>

#include "platform/windows/windows.h"

namespace bonesplice::platform {
namespace {

// Every console event (Ctrl+C, Ctrl+Break, closing the console, logoff, shutdown) ends a console
// program; the system runs this on a thread of its own, the thread that waits for the end.
BOOL WINAPI OnConsoleEvent(DWORD) {
  TheEnd().End();
  return FALSE;  // the system's own handling then ends the process as the event would have
}

// A crash: an exception that nothing handled, such as an access violation.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) {
  TheEnd().EndAfterCrash();
  return EXCEPTION_CONTINUE_SEARCH;
}

// abort(), and std::terminate through it; the C library then ends the program as abort does.
void OnAbort(int) {
  TheEnd().EndAfterCrash();
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
  // No message boxes for drives without media (a failed open is reported as such), nor for a
  // crash: a batch run must not wait at a dialog for someone to close it.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  SetUnhandledExceptionFilter(OnUnhandledException);
  std::signal(SIGABRT, OnAbort);
}

bool RemoveFile(const char* path) {
  // Converted on the stack: a crash may have left the heap unusable.
  wchar_t wide[32768];
  return MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 32768) > 0 && DeleteFileW(wide);
}

bool EmptyFile(intptr_t handle) {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(AsHandle(handle), zero, nullptr, FILE_BEGIN) &&
         SetEndOfFile(AsHandle(handle));
}

}  // namespace bonesplice::platform
