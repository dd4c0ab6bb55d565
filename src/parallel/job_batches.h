#pragma once

// Consecutive items taken together as one job of an ordered run, so that handing out work costs
// little beside small items: a batch ends after `items` items or once its items' bytes reach
// `bytes`, so large items still spread over the threads one by one.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace oxtrel {

struct BatchLimits {
  size_t items = 1;    // at least 1
  uint64_t bytes = 0;  // 0: every item is a batch of its own
};

// Where each batch of items 0..count-1 starts, then the end of the last; {0} when count is 0.
// bytesOf(i) is item i's size.
template <typename BytesOf>
std::vector<size_t> batchBoundaries(size_t count, const BatchLimits& limits, BytesOf bytesOf) {
  std::vector<size_t> starts{0};
  uint64_t bytes = 0;
  for (size_t i = 0; i < count; ++i) {
    bytes += bytesOf(i);
    if (i + 1 - starts.back() >= limits.items || bytes >= limits.bytes) {
      starts.push_back(i + 1);
      bytes = 0;
    }
  }
  if (starts.back() != count) starts.push_back(count);
  return starts;
}

}  // namespace oxtrel
