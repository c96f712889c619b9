// Counts heap allocations for the allocation check of the Python benchmark.
// Preloaded (LD_PRELOAD) into an interpreter that runs with
// PYTHONMALLOC=malloc, it sees every allocation the interpreter and the
// extension make, and the benchmark reads the count through ctypes.
#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);

namespace {
std::atomic<unsigned long> allocation_count{0};
}

__attribute__((visibility("default"))) unsigned long velarix_allocation_count() {
    return allocation_count.load(std::memory_order_relaxed);
}

__attribute__((visibility("default"))) void* malloc(std::size_t size) {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

__attribute__((visibility("default"))) void* calloc(std::size_t count, std::size_t size) {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

__attribute__((visibility("default"))) void* realloc(void* pointer, std::size_t size) {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
}
