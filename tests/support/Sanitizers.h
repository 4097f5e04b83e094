#pragma once

// Which sanitizer this test binary was built with.
#if defined(__SANITIZE_THREAD__)
#define TALVIKS_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TALVIKS_TEST_TSAN 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TALVIKS_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALVIKS_TEST_ASAN 1
#endif
#endif

namespace testsupport {
#ifdef TALVIKS_TEST_TSAN
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#ifdef TALVIKS_TEST_ASAN
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
// The sanitizer's allocator replaces the C library's (its heap figures and limits).
constexpr bool kSanitizerAllocator = kThreadSanitizer || kAddressSanitizer;
} // namespace testsupport
