// The process on Windows.

#include <algorithm>
#include <bit>
#include <thread>

#include "platform/platform.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

unsigned availableCpus() {
  DWORD_PTR process = 0, system = 0;
  unsigned cpus = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) cpus = unsigned(std::popcount(uint64_t(process)));
  if (cpus == 0) cpus = std::thread::hardware_concurrency();
  return std::max(cpus, 1u);
}

uint64_t processId() { return GetCurrentProcessId(); }

bool processGone(uint64_t id) {
  if (id == 0 || id > UINT32_MAX) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, DWORD(id));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
  // A process that has ended but whose handle someone still holds is gone all the same.
  bool gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return gone;
}

}  // namespace oxtrel::platform
