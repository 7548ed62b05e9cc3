// Heap accounting for the benchmarks and the memory tests: a count of the bytes in use and the
// highest count since the last reset, over every allocation of the process. Shared libraries
// (libsoxr, libgomp, libstdc++'s operator new) are counted too. Built plainly, the C allocation
// functions of the executable go to glibc's own; under AddressSanitizer, which owns them, its
// allocation hooks keep the count.
#include "counting_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)

extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *, size_t),
                                              void (*free_hook)(const volatile void *));
size_t __sanitizer_get_allocated_size(const volatile void *pointer);
}

namespace {

std::atomic<int64_t> in_use{0};
std::atomic<int64_t> peak{0};

void allocated(const volatile void *, size_t size) {
    const int64_t now = in_use.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
    int64_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

void released(const volatile void *pointer) {
    if (pointer != nullptr) {
        in_use.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(pointer)));
    }
}

// Installed before main; allocations made earlier are never released through the count.
const int installed = __sanitizer_install_malloc_and_free_hooks(allocated, released);

}  // namespace

namespace counting_allocator {

int64_t bytes_in_use() { return in_use.load(); }

void reset_peak() { peak.store(in_use.load()); }

int64_t peak_bytes() { return peak.load(); }

bool counting() { return installed != 0; }

}  // namespace counting_allocator

#else

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

namespace {

std::atomic<int64_t> in_use{0};
std::atomic<int64_t> peak{0};

void count_in(void *pointer) {
    if (pointer == nullptr) return;
    const int64_t now = in_use.fetch_add(static_cast<int64_t>(malloc_usable_size(pointer))) +
                        static_cast<int64_t>(malloc_usable_size(pointer));
    int64_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

void count_out(void *pointer) {
    if (pointer != nullptr) in_use.fetch_sub(static_cast<int64_t>(malloc_usable_size(pointer)));
}

}  // namespace

namespace counting_allocator {

int64_t bytes_in_use() { return in_use.load(); }

void reset_peak() { peak.store(in_use.load()); }

int64_t peak_bytes() { return peak.load(); }

bool counting() { return true; }

}  // namespace counting_allocator

extern "C" {

void *malloc(size_t size) {
    void *pointer = __libc_malloc(size);
    count_in(pointer);
    return pointer;
}

void *calloc(size_t count, size_t size) {
    void *pointer = __libc_calloc(count, size);
    count_in(pointer);
    return pointer;
}

void *realloc(void *pointer, size_t size) {
    if (pointer != nullptr && size == 0) {  // glibc frees the block and answers null
        free(pointer);
        return nullptr;
    }
    const int64_t before = pointer != nullptr ? static_cast<int64_t>(malloc_usable_size(pointer)) : 0;
    void *moved = __libc_realloc(pointer, size);
    if (moved == nullptr) return nullptr;  // the old block stays, still counted
    in_use.fetch_sub(before);
    count_in(moved);
    return moved;
}

void free(void *pointer) {
    count_out(pointer);
    __libc_free(pointer);
}

void *memalign(size_t alignment, size_t size) {
    void *pointer = __libc_memalign(alignment, size);
    count_in(pointer);
    return pointer;
}

void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void **out, size_t alignment, size_t size) {
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void *pointer = memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}

}  // extern "C"

#endif  // __SANITIZE_ADDRESS__
