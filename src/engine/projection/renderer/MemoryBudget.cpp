// The C library's allocation functions, replaced by ones that count what is
// in use (as the library reports the blocks' sizes) and refuse what would
// pass the budget; the library's own allocator does the work.
#include "MemoryBudget.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

namespace {

std::atomic<uint64_t> g_budget{0}; // 0: none
std::atomic<int64_t> g_inUse{0};
std::atomic<bool> g_refused{false};

} // namespace

namespace memorybudget {

void set(uint64_t bytes)
{
    g_budget = bytes;
}

bool refused()
{
    return g_refused.load();
}

void clearRefused()
{
    g_refused = false;
}

} // namespace memorybudget

#ifndef TALVIKS_SANITIZER_ALLOCATOR

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

namespace {

// Whether `more` bytes may be added to the heap.
bool mayTake(size_t more)
{
    const uint64_t budget = g_budget.load(std::memory_order_relaxed);
    if (budget == 0)
        return true;
    const int64_t inUse = g_inUse.load(std::memory_order_relaxed);
    if (more <= budget && inUse <= int64_t(budget - more))
        return true;
    g_refused.store(true, std::memory_order_relaxed);
    errno = ENOMEM;
    return false;
}

void* counted(void* block)
{
    if (block)
        g_inUse.fetch_add(int64_t(malloc_usable_size(block)), std::memory_order_relaxed);
    return block;
}

} // namespace

extern "C" {

void* malloc(size_t size)
{
    return mayTake(size) ? counted(__libc_malloc(size)) : nullptr;
}

void free(void* block)
{
    if (block)
        g_inUse.fetch_sub(int64_t(malloc_usable_size(block)), std::memory_order_relaxed);
    __libc_free(block);
}

void* calloc(size_t count, size_t size)
{
    size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    return mayTake(total) ? counted(__libc_calloc(count, size)) : nullptr;
}

void* realloc(void* block, size_t size)
{
    if (!block)
        return malloc(size);
    const size_t before = malloc_usable_size(block);
    if (size > before && !mayTake(size - before))
        return nullptr;
    void* moved = __libc_realloc(block, size);
    if (moved)
        g_inUse.fetch_add(int64_t(malloc_usable_size(moved)) - int64_t(before), std::memory_order_relaxed);
    else if (size == 0)
        g_inUse.fetch_sub(int64_t(before), std::memory_order_relaxed); // freed
    return moved;
}

void* reallocarray(void* block, size_t count, size_t size)
{
    size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(block, total);
}

void* memalign(size_t alignment, size_t size)
{
    return mayTake(size) ? counted(__libc_memalign(alignment, size)) : nullptr;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = memalign(alignment, size);
    if (!block && size != 0)
        return ENOMEM;
    *out = block;
    return 0;
}

void* valloc(size_t size)
{
    return mayTake(size) ? counted(__libc_valloc(size)) : nullptr;
}

void* pvalloc(size_t size)
{
    return mayTake(size) ? counted(__libc_pvalloc(size)) : nullptr;
}

} // extern "C"

#endif
