// Large buffers from the system on Windows: whole allocation units of fresh, committed pages.

#include <cstdint>
#include <new>

#include "platform/platform.h"
#include "platform/windows/windows_system.h"

namespace oxtrel::platform {

// The system hands out address space in allocation units (64 KiB).
size_t mappedLength(size_t size) {
  static const size_t unit = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return size_t(info.dwAllocationGranularity);
  }();
  if (size > SIZE_MAX - unit) throw std::bad_alloc();
  return (size + unit - 1) / unit * unit;
}

// Windows cannot move pages to a new address, so a larger buffer is a new one.
uint8_t* remapMemory(uint8_t* old, size_t oldLength, size_t length) {
  void* fresh = VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!fresh) return nullptr;
  if (old) unmapMemory(old, oldLength);
  return static_cast<uint8_t*>(fresh);
}

void unmapMemory(uint8_t* bytes, size_t) { VirtualFree(bytes, 0, MEM_RELEASE); }

}  // namespace oxtrel::platform
