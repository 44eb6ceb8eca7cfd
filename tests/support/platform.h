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

// Skips the running test on Windows and says why.
#define BMPTEST_SKIP_ON_WINDOWS(why)                  \
    do {                                              \
        if (bmptest::kWindows) GTEST_SKIP() << (why); \
    } while (0)
