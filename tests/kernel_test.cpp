// Every vector kernel against the scalar one, and the scalar table against
// the builder's independent curve. Inputs sit against inaccessible pages
// and outputs between guard bytes, so a kernel that reads or writes past
// its buffers fails here rather than corrupting memory somewhere else.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "contrast_curve.h"
#include "guarded_pages.h"
#include "kernels/contrast_kernels.h"

namespace {

using bmpc::ContrastTable;
using bmpc::KernelInfo;

const int32_t kLevels[] = {1,   10,  50,    99,    100,        101,        110,
                           150, 200, 12700, 12701, 1677721920, 1677721921, 2147483647};

ContrastTable TableFor(int32_t level) {
    ContrastTable table{};
    bmpc::BuildContrastTable(bmpc::ContrastFactor(level), table);
    return table;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

class KernelTest : public testing::TestWithParam<size_t> {
  protected:
    void SetUp() override {
        size_t count = 0;
        kernel_ = bmpc::AllKernels(count)[GetParam()];
        if (!kernel_.supported()) {
            GTEST_SKIP() << "kernel " << kernel_.name << " not supported by this CPU";
        }
    }

    // Runs the kernel on `input` placed against a guard page (after it, or
    // before it) and checks the output, and the guard bytes around it,
    // against the scalar kernel.
    void Check(const std::vector<uint8_t>& input, size_t offset, const ContrastTable& table,
               bool inputAtPageEnd) {
        const size_t n = input.size();
        ASSERT_TRUE(page_.ok());
        ASSERT_LE(n + offset, page_.size());
        uint8_t* in = inputAtPageEnd ? page_.end() - n : page_.begin() + offset;
        if (n != 0) std::memcpy(in, input.data(), n);

        constexpr size_t kGuard = 64;
        constexpr uint8_t kGuardByte = 0xA5;
        std::vector<uint8_t> expected(n), actual(kGuard + offset + n + kGuard, kGuardByte);
        bmpc::ContrastKernelScalar(input.data(), expected.data(), n, table);
        uint8_t* out = actual.data() + kGuard + offset;
        kernel_.apply(in, out, n, table);

        const std::string where = std::string(kernel_.name) + " n=" + std::to_string(n) +
                                  " offset=" + std::to_string(offset) +
                                  " factor=" + std::to_string(table.factor);
        ASSERT_EQ(std::vector<uint8_t>(out, out + n), expected) << where;
        for (size_t i = 0; i < kGuard + offset; ++i) {
            ASSERT_EQ(actual[i], kGuardByte) << where << ": written before the output";
        }
        for (size_t i = kGuard + offset + n; i < actual.size(); ++i) {
            ASSERT_EQ(actual[i], kGuardByte) << where << ": written after the output";
        }
    }

    KernelInfo kernel_{};
    bmptest::GuardedPage page_;
};

// The scalar table is what every kernel is compared with, so it is itself
// checked against the builder's curve, which shares no code with it.
TEST(ContrastTable, MatchesIndependentCurve) {
    for (const int32_t level : kLevels) {
        const ContrastTable table = TableFor(level);
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(table.map[v], bmptest::ExpectedByte(static_cast<uint8_t>(v), level))
                << "level " << level << " byte " << v;
        }
    }
}

TEST_P(KernelTest, AllValuesAtEveryLevel) {
    // Every byte value at several positions within a vector, both ways round.
    std::vector<uint8_t> input;
    for (int rep = 0; rep < 3; ++rep) {
        for (int v = 0; v < 256; ++v) input.push_back(static_cast<uint8_t>(v));
        for (int v = 255; v >= 0; --v) input.push_back(static_cast<uint8_t>(v));
    }
    input.push_back(7);  // a tail after the whole vectors
    for (const int32_t level : kLevels) {
        Check(input, 0, TableFor(level), true);
        Check(input, 3, TableFor(level), false);
    }
}

TEST_P(KernelTest, EveryLengthAndOffsetStaysInBounds) {
    // Past 256 bytes, so that unrolled loops, single vectors and every tail
    // length are all reached.
    const ContrastTable steep = TableFor(150);
    const ContrastTable flat = TableFor(12701);
    for (size_t n = 0; n <= 520; ++n) {
        const std::vector<uint8_t> input = RandomBytes(n, static_cast<uint32_t>(n));
        for (const size_t offset : {size_t{0}, size_t{1}, size_t{3}, size_t{5}}) {
            Check(input, offset, steep, true);
            Check(input, offset, flat, false);
        }
    }
}

TEST_P(KernelTest, InPlaceMatchesScalar) {
    // The block against a guard page on either side, so that a kernel that
    // reads or writes past it in place faults.
    ASSERT_TRUE(page_.ok());
    const ContrastTable table = TableFor(150);
    for (size_t n = 0; n <= 520; ++n) {
        const std::vector<uint8_t> input = RandomBytes(n, static_cast<uint32_t>(n + 1000));
        std::vector<uint8_t> expected(n);
        bmpc::ContrastKernelScalar(input.data(), expected.data(), n, table);
        for (uint8_t* block : {page_.end() - n, page_.begin()}) {
            if (n != 0) std::memcpy(block, input.data(), n);
            kernel_.apply(block, block, n, table);
            ASSERT_EQ(std::vector<uint8_t>(block, block + n), expected)
                << kernel_.name << " n=" << n;
        }
    }
}

// Every mask of kept bytes, at every length past the unrolled loops and
// every start within a four-byte group, against guard pages, out of place
// and in place.
TEST_P(KernelTest, KeepingMatchesScalarAndStaysInBounds) {
    ASSERT_TRUE(page_.ok());
    const ContrastTable table = TableFor(150);
    constexpr size_t kGuard = 64;
    constexpr uint8_t kGuardByte = 0xA5;
    for (size_t n = 0; n <= 300; ++n) {
        const std::vector<uint8_t> input = RandomBytes(n, static_cast<uint32_t>(n + 7));
        for (unsigned keep = 0; keep < 16; ++keep) {
            std::vector<uint8_t> expected(n);
            bmpc::ContrastKernelKeepingScalar(input.data(), expected.data(), n, table, keep);
            const std::string where = std::string(kernel_.name) + " n=" + std::to_string(n) +
                                      " keep=" + std::to_string(keep);
            uint8_t* in = page_.end() - n;
            if (n != 0) std::memcpy(in, input.data(), n);
            std::vector<uint8_t> actual(kGuard + n + kGuard, kGuardByte);
            kernel_.applyKeeping(in, actual.data() + kGuard, n, table, keep);
            ASSERT_EQ(std::vector<uint8_t>(actual.begin() + kGuard, actual.end() - kGuard),
                      expected)
                << where;
            for (size_t i = 0; i < kGuard; ++i) {
                ASSERT_EQ(actual[i], kGuardByte) << where << ": written before the output";
                ASSERT_EQ(actual[kGuard + n + i], kGuardByte) << where << ": written after it";
            }
            uint8_t* block = page_.begin();
            if (n != 0) std::memcpy(block, input.data(), n);
            kernel_.applyKeeping(block, block, n, table, keep);
            ASSERT_EQ(std::vector<uint8_t>(block, block + n), expected) << where << " in place";
        }
    }
}

// The scalar keeping kernel, that the others are held to, against the
// builder's curve.
TEST(KeepingKernel, KeptBytesStayAndTheOthersFollowTheCurve) {
    const ContrastTable table = TableFor(150);
    std::vector<uint8_t> input(256);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 37);
    for (const unsigned keep : {0u, 0b1000u, 0b0001u, 0b0110u, 15u}) {
        std::vector<uint8_t> out(input.size());
        bmpc::ContrastKernelKeepingScalar(input.data(), out.data(), input.size(), table, keep);
        for (size_t i = 0; i < input.size(); ++i) {
            const bool kept = ((keep >> (i % 4)) & 1u) != 0;
            ASSERT_EQ(out[i], kept ? input[i] : bmptest::ExpectedByte(input[i], 150))
                << "keep " << keep << " byte " << i;
        }
    }
    // A run that starts within a group sees the mask turned to its phase.
    EXPECT_EQ(bmpc::KeepAtPhase(0b1000, 0), 0b1000u);
    EXPECT_EQ(bmpc::KeepAtPhase(0b1000, 1), 0b0100u);
    EXPECT_EQ(bmpc::KeepAtPhase(0b1000, 3), 0b0001u);
    EXPECT_EQ(bmpc::KeepAtPhase(0b0011, 2), 0b1100u);
}

std::string KernelName(const testing::TestParamInfo<size_t>& info) {
    size_t count = 0;
    return bmpc::AllKernels(count)[info.param].name;
}

size_t KernelCount() {
    size_t count = 0;
    bmpc::AllKernels(count);
    return count;
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelTest, testing::Range(size_t{0}, KernelCount()), KernelName);

}  // namespace
