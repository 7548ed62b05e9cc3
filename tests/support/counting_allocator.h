// Bytes on the heap of this process, as counted by the executable that links
// counting_allocator.cpp.
#pragma once

#include <cstdint>

namespace counting_allocator {

int64_t bytes_in_use();
// Starts a new peak from what is in use now.
void reset_peak();
int64_t peak_bytes();
// false when the allocations can't be counted here.
bool counting();

}  // namespace counting_allocator
