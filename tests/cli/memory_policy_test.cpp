// The tool's malloc policy: a pixel-sized block freed by one conversion
// comes back already faulted in for the next, on the main thread and on a
// worker thread alike. Its own process, since the policy is process-wide.
#include "memory_policy.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <thread>

namespace {

// Whether the last whole page of [block, block + size) is in memory.
bool LastPageResident(const uint8_t* block, size_t size) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t last = (reinterpret_cast<uintptr_t>(block) + size) & ~(page - 1);
    unsigned char resident = 0;
    return mincore(reinterpret_cast<void*>(last - page), page, &resident) == 0 &&
           (resident & 1) != 0;
}

// Two blocks of a 1 MP file, freed and asked for again.
void ExpectReuse() {
    constexpr size_t kSize = size_t{3} << 20;
    for (int round = 0; round < 3; ++round) {
        auto* input = static_cast<uint8_t*>(std::malloc(kSize));
        auto* output = static_cast<uint8_t*>(std::malloc(kSize));
        ASSERT_TRUE(input != nullptr && output != nullptr);
        if (round > 0) {
            EXPECT_TRUE(LastPageResident(output, kSize)) << "round " << round;
        }
        // Through volatile: a plain store right before free() may be dropped.
        volatile uint8_t* touch = output;
        for (size_t i = 0; i < kSize; i += 4096) touch[i] = static_cast<uint8_t>(round);
        std::free(input);
        std::free(output);
    }
}

TEST(MemoryPolicy, FreedBlocksComeBackFaultedIn) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "no malloc policy for this C library";
#endif
#ifdef BMPCONTRAST_TESTS_EMULATED
    GTEST_SKIP() << "under qemu-user page faults are the emulator's, not the guest's";
#endif
    ASSERT_TRUE(bmpcontrast_cli::KeepFreedPixelMemory());
    ExpectReuse();
    std::thread worker(ExpectReuse);
    worker.join();
}

}  // namespace
