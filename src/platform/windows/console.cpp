// The console on Windows: standard handles in binary mode, and the console's control events as
// stop requests.

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/console.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

namespace {

DWORD handleNumber(StandardStream stream) {
  switch (stream) {
    case StandardStream::input: return STD_INPUT_HANDLE;
    case StandardStream::output: return STD_OUTPUT_HANDLE;
    case StandardStream::error: break;
  }
  return STD_ERROR_HANDLE;
}

std::atomic<void (*)(int)> stopHandler{nullptr};

// Runs on a thread the system starts. The numbers are the POSIX signals' (so the exit status is
// 128 + n as there): Ctrl-C and Ctrl-Break interrupt, a closing console hangs up, a logoff or
// shutdown terminates.
BOOL WINAPI onControl(DWORD event) {
  void (*handler)(int) = stopHandler.load();
  if (!handler) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: handler(SIGINT); return TRUE;
    case CTRL_CLOSE_EVENT: handler(1); return TRUE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: handler(SIGTERM); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

bool isTerminal(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(handleNumber(stream)), &mode) != 0;
}

void guardStandardHandles() {
  constexpr StandardStream kStreams[] = {StandardStream::input, StandardStream::output, StandardStream::error};
  for (StandardStream stream : kStreams) {
    HANDLE handle = GetStdHandle(handleNumber(stream));
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (null != INVALID_HANDLE_VALUE) SetStdHandle(handleNumber(stream), null);
  }
  // Console lines are bytes, the same as on POSIX: no "\r\n" for "\n".
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

SystemError checkStandardOutput() {
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "", 0, &written, nullptr) ? 0 : windows::lastError();
}

void watchStopRequests(void (*handler)(int)) {
  stopHandler.store(handler);
  SetConsoleCtrlHandler(onControl, TRUE);
}

void restoreStopRequests() {
  SetConsoleCtrlHandler(onControl, FALSE);
  stopHandler.store(nullptr);
}

}  // namespace oxtrel::platform
