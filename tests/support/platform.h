// What the tests need to know about the system they run on, in one place:
// the paths with a meaning of their own, and a skip, with its reason, for a
// test whose subject the system does not have.
#pragma once

#include <gtest/gtest.h>

namespace bmptest {

#ifdef _WIN32
inline constexpr bool kWindows = true;
inline constexpr char kNullDevice[] = "NUL";
inline constexpr const char* kFullDevice = nullptr;
#else
inline constexpr bool kWindows = false;
inline constexpr char kNullDevice[] = "/dev/null";
// Opens, and fails every write.
inline constexpr const char* kFullDevice = "/dev/full";
#endif

}  // namespace bmptest

// Under a sanitizer the allocator is its own, and the heap counts mean
// something else.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BMPC_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BMPC_SANITIZED 1
#endif
#endif

// Skips the running test on Windows and says why.
#define BMPTEST_SKIP_ON_WINDOWS(why)                  \
    do {                                              \
        if (bmptest::kWindows) GTEST_SKIP() << (why); \
    } while (0)
