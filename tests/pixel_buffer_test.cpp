// Pixel blocks: every byte usable, prefaulting keeps what a block holds and
// never reaches past it, and on kernels that can prefault a fresh block
// ends up resident.
#include "pixel_buffer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kKiB = size_t{1} << 10;
constexpr size_t kMiB = size_t{1} << 20;

TEST(PixelBuffer, PrefaultKeepsContentsAndBounds) {
    // Around the page size and the size from which blocks are prefaulted,
    // at odd offsets within a larger block, so that a range rounded the
    // wrong way would show in the neighbouring bytes.
    for (const size_t size : {size_t{1}, 4 * kKiB - 1, 4 * kKiB + 1, 256 * kKiB - 1, 256 * kKiB,
                              256 * kKiB + 3, 3 * kMiB + 5}) {
        for (const size_t offset : {size_t{0}, size_t{1}, size_t{4095}}) {
            uint8_t* outer = bmpc::AllocatePixelBuffer(size + offset + 64);
            ASSERT_NE(outer, nullptr) << size;
            std::memset(outer, 0x11, size + offset + 64);
            uint8_t* block = outer + offset;
            for (size_t i = 0; i < size; i += 997) block[i] = static_cast<uint8_t>(i);
            bmpc::PrefaultPixelBuffer(block, size);
            for (size_t i = 0; i < offset; ++i) ASSERT_EQ(outer[i], 0x11) << size;
            for (size_t i = 0; i < size; ++i) {
                ASSERT_EQ(block[i], i % 997 == 0 ? static_cast<uint8_t>(i) : 0x11)
                    << size << " at " << i;
            }
            for (size_t i = 0; i < 64; ++i) ASSERT_EQ(block[size + i], 0x11) << size;
            bmpc::FreePixelBuffer(outer);
        }
    }
    bmpc::PrefaultPixelBuffer(nullptr, 0);
    bmpc::FreePixelBuffer(nullptr);
}

TEST(PixelBuffer, FreshBlockIsResidentAfterPrefault) {
#if defined(_WIN32)
    GTEST_SKIP() << "blocks are prefaulted on Linux only (MADV_POPULATE_WRITE); on Windows "
                    "prefaulting does nothing, so there is no residency to check";
#elif defined(BMPCONTRAST_TESTS_EMULATED)
    GTEST_SKIP() << "under qemu-user the guest's madvise and mincore act on the emulator's memory";
#else
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    // Probe: before Linux 5.14 prefaulting is a no-op by design.
    void* probe = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(probe, MAP_FAILED);
    const bool supported = madvise(probe, page, 23 /* MADV_POPULATE_WRITE */) == 0;
    munmap(probe, page);
    if (!supported) GTEST_SKIP() << "kernel cannot prefault (errno " << errno << ")";

    // Large enough for malloc to map it afresh, whatever its settings.
    const size_t size = 64 * kMiB + 123;
    uint8_t* block = bmpc::AllocatePixelBuffer(size);
    ASSERT_NE(block, nullptr);
    // Bytes already written in the first half must survive the prefault.
    for (size_t i = 0; i < size / 2; i += page) block[i] = static_cast<uint8_t>(i / page + 1);
    bmpc::PrefaultPixelBuffer(block, size);
    for (size_t i = 0; i < size / 2; i += page) {
        ASSERT_EQ(block[i], static_cast<uint8_t>(i / page + 1)) << i;
    }
    const auto start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + page - 1) & ~(page - 1);
    const uintptr_t last = (start + size) & ~(page - 1);
    std::vector<unsigned char> resident((last - first) / page);
    ASSERT_EQ(mincore(reinterpret_cast<void*>(first), last - first, resident.data()), 0);
    size_t missing = 0;
    for (const unsigned char r : resident) missing += (r & 1) == 0 ? 1 : 0;
    EXPECT_EQ(missing, 0u) << "of " << resident.size() << " pages";
    bmpc::FreePixelBuffer(block);
#endif
}

}  // namespace
