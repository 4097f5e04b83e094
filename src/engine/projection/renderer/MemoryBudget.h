#pragma once

#include <cstdint>

// The renderer's heap budget. Once set, an allocation that would take the
// heap past it fails as if memory had run out, wherever it comes from (the
// toolkit included), and is remembered. A budget is a count of what the
// program has allocated, so it also holds under a user-mode emulator, where
// address-space limits are not applied.
//
// A sanitizer build brings its own allocator: the budget is not enforced
// there (the program limits its resident memory through the sanitizer
// instead).
namespace memorybudget {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVIKS_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TALVIKS_SANITIZER_ALLOCATOR 1
#endif
#endif

#ifdef TALVIKS_SANITIZER_ALLOCATOR
constexpr bool kEnforced = false;
#else
constexpr bool kEnforced = true;
#endif

void set(uint64_t bytes);
// Whether an allocation was refused since the last clearRefused().
bool refused();
void clearRefused();

} // namespace memorybudget
