// Makes the program's non-throwing new and new[] fail on demand: set
// test_support::allocations_until_failure to n and the n-th such allocation from then on (0 the
// next) answers null; -1 (the start) never fails. It replaces operators, so include it in one
// source file of a test program of its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>

namespace test_support {

inline std::atomic<long> allocations_until_failure{-1};

inline bool allocation_should_fail() {
    long left = allocations_until_failure.load();
    while (left >= 0 && !allocations_until_failure.compare_exchange_weak(left, left - 1)) {
    }
    return left == 0;
}

}  // namespace test_support

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (test_support::allocation_should_fail()) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    if (test_support::allocation_should_fail()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void *pointer, const std::nothrow_t &) noexcept { ::operator delete(pointer); }
void operator delete[](void *pointer, const std::nothrow_t &) noexcept { ::operator delete[](pointer); }
