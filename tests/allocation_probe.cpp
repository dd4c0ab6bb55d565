#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> largest{0};
std::atomic<size_t> live{0};  // bytes held now
std::atomic<size_t> base{0};  // held when the probe was armed
std::atomic<size_t> peak{0};  // the most held at once since

void raise(std::atomic<size_t>& to, size_t value) {
  size_t seen = to.load(std::memory_order_relaxed);
  while (value > seen && !to.compare_exchange_weak(seen, value)) {
  }
}

// Each block carries its size in front, so a delete without one still counts it.
constexpr size_t kHeader = alignof(std::max_align_t);

}  // namespace

namespace oxtrel::testing {

void armAllocationProbe() {
  largest = 0;
  base = live.load();
  peak = base.load();
}
size_t largestAllocationSinceArmed() { return largest; }
size_t peakBytesSinceArmed() {
  size_t p = peak.load();
  size_t b = base.load();
  return p > b ? p - b : 0;
}

}  // namespace oxtrel::testing

void* operator new(size_t size) {
  raise(largest, size);
  if (auto* p = static_cast<unsigned char*>(std::malloc(size + kHeader))) {
    *reinterpret_cast<size_t*>(p) = size;
    raise(peak, live.fetch_add(size, std::memory_order_relaxed) + size);
    return p + kHeader;
  }
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  if (!p) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  live.fetch_sub(*reinterpret_cast<size_t*>(block), std::memory_order_relaxed);
  std::free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
