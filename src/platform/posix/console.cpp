// The console on POSIX: standard descriptors and the stop signals.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"

namespace oxtrel::platform {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void setAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

int descriptorOf(StandardStream stream) {
  switch (stream) {
    case StandardStream::input: return STDIN_FILENO;
    case StandardStream::output: return STDOUT_FILENO;
    case StandardStream::error: break;
  }
  return STDERR_FILENO;
}

}  // namespace

bool isTerminal(StandardStream stream) { return isatty(descriptorOf(stream)) != 0; }

void guardStandardHandles() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);  // the lowest free descriptor is fd
  }
}

SystemError checkStandardOutput() { return write(STDOUT_FILENO, "", 0) < 0 ? errno : 0; }

void watchStopRequests(void (*handler)(int)) { setAction(handler); }

void restoreStopRequests() { setAction(SIG_DFL); }

}  // namespace oxtrel::platform
