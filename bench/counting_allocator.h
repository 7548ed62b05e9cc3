// Bytes on the heap of this process, as counted by the benchmark executable's allocator.
#pragma once

#include <cstdint>

namespace counting_allocator {

int64_t bytes_in_use();
// Starts a new peak from what is in use now.
void reset_peak();
int64_t peak_bytes();

}  // namespace counting_allocator
