// The helpers whose workings differ between systems measure and guard what
// they claim to: a helper that measured nothing would let every leak and
// overrun test pass without looking.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bmp_builder.h"
#include "guarded_pages.h"
#include "platform.h"
#include "process_usage.h"
#include "scratch_dir.h"

namespace {

TEST(ProcessUsage, CountsAnOpenFile) {
    const bmptest::ScratchDir dir;
    const std::string path = dir / "file";
    bmptest::WriteFile(path, {1, 2, 3});
    const int before = bmptest::OpenDescriptors();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(bmptest::OpenDescriptors(), before + 1);
    std::fclose(f);
    EXPECT_EQ(bmptest::OpenDescriptors(), before);
}

TEST(ProcessUsage, CountsHeapAndAddressSpace) {
#ifdef BMPC_SANITIZED
    GTEST_SKIP() << "sanitizer allocators keep their own books, which the C library's "
                    "counts do not see";
#else
    // Past the allocators' caches of small blocks, short of their own mappings.
    constexpr size_t kSmall = size_t{100} << 10;
    constexpr size_t kLarge = size_t{64} << 20;
    const size_t heap = bmptest::HeapInUse();
    [[maybe_unused]] const uint64_t mapped = bmptest::MappedBytes();
    void* small = std::malloc(kSmall);
    void* large = std::malloc(kLarge);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_GE(bmptest::HeapInUse(), heap + kSmall);
#ifndef BMPCONTRAST_TESTS_EMULATED  // the emulator's own mappings, not the program's
    EXPECT_GE(bmptest::MappedBytes(), mapped + kLarge);
#endif
    std::free(large);
    std::free(small);
    EXPECT_LT(bmptest::HeapInUse(), heap + kSmall);
#endif
}

TEST(GuardedPageDeathTest, TheBytesOnEitherSideFault) {
    const bmptest::GuardedPage page;
    ASSERT_TRUE(page.ok());
    volatile uint8_t* const first = page.begin();
    volatile uint8_t* const last = page.end() - 1;
    *first = 1;
    *last = 2;
    EXPECT_EQ(*first + *last, 3);
    EXPECT_DEATH(first[-1] = 0, "");
    EXPECT_DEATH(last[1] = 0, "");
    EXPECT_DEATH(static_cast<void>(last[1]), "");
}

}  // namespace
