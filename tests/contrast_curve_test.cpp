// The curve, its factor and the row geometry, against exact arithmetic.
#include "contrast_curve.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

#include "bmp_builder.h"
#include "pixel_layout.h"

namespace {

using bmpc::ContrastByte;
using bmpc::ContrastFactor;

struct CurveRow {
    int32_t level;
    uint32_t factorBits;
    uint8_t out[10];  // for inputs 0, 1, 64, 100, 127, 128, 129, 200, 254, 255
};

constexpr uint8_t kInputs[10] = {0, 1, 64, 100, 127, 128, 129, 200, 254, 255};

// Reference values worked out by hand from the binary32 steps.
constexpr CurveRow kCurve[] = {
    {1, 0x3C23D70A, {126, 126, 127, 127, 127, 128, 128, 128, 129, 129}},
    {10, 0x3DCCCCCC, {115, 115, 121, 125, 127, 128, 128, 135, 140, 140}},
    {50, 0x3F000000, {64, 64, 96, 114, 127, 128, 128, 164, 191, 191}},
    {99, 0x3F7D70A3, {1, 2, 64, 100, 127, 128, 128, 199, 252, 253}},
    {100, 0x3F800000, {0, 1, 64, 100, 127, 128, 129, 200, 254, 255}},
    {101, 0x3F8147AE, {0, 0, 63, 99, 126, 128, 129, 200, 255, 255}},
    {150, 0x3FC00000, {0, 0, 32, 86, 126, 128, 129, 236, 255, 255}},
    {200, 0x40000000, {0, 0, 0, 72, 126, 128, 130, 255, 255, 255}},
};

TEST(ContrastCurve, ReferenceTable) {
    for (const CurveRow& row : kCurve) {
        const float factor = ContrastFactor(row.level);
        EXPECT_EQ(std::bit_cast<uint32_t>(factor), row.factorBits) << "level " << row.level;
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(ContrastByte(kInputs[i], factor), row.out[i])
                << "level " << row.level << " byte " << int{kInputs[i]};
        }
    }
}

// The binary32 steps equal exact rational arithmetic, truncated then
// clamped, at every level up to 1677721920; a double-precision or fused
// evaluation does not (level 110 byte 18, level 70 byte 8).
TEST(ContrastCurve, MatchesExactArithmetic) {
    auto check = [](int32_t level) {
        const float factor = ContrastFactor(level);
        for (int v = 0; v < 256; ++v) {
            const auto byte = static_cast<uint8_t>(v);
            ASSERT_EQ(ContrastByte(byte, factor), bmptest::ExpectedByte(byte, level))
                << "level " << level << " byte " << v;
        }
    };
    for (int32_t level = 1; level <= 1000; ++level) check(level);
    for (int32_t level :
         {1999, 4096, 9999, 12699, 12700, 12701, 65536, 1000000, 16777216, 16777217, 1677721920}) {
        check(level);
    }
}

TEST(ContrastCurve, NamedPoints) {
    EXPECT_EQ(ContrastByte(18, ContrastFactor(110)), 7);
    EXPECT_EQ(ContrastByte(8, ContrastFactor(70)), 44);
    EXPECT_EQ(ContrastByte(255, ContrastFactor(50)), 191);  // 191.5 truncates
    EXPECT_EQ(ContrastByte(1, ContrastFactor(50)), 64);     // 64.5 truncates
    EXPECT_EQ(ContrastByte(127, ContrastFactor(12700)), 1);
    EXPECT_EQ(ContrastByte(127, ContrastFactor(12701)), 0);
    EXPECT_EQ(ContrastByte(129, ContrastFactor(12701)), 255);
}

// Beyond 1677721920 the value before conversion leaves the 32-bit range;
// it must still land on the side it lies on.
TEST(ContrastCurve, SaturatesAtHugeLevels) {
    for (int32_t level :
         {1677721921, 1690931903, 1690931904, 2000000000, std::numeric_limits<int32_t>::max()}) {
        const float factor = ContrastFactor(level);
        for (int v = 0; v < 256; ++v) {
            const uint8_t want = v < 128 ? 0 : v > 128 ? 255 : 128;
            ASSERT_EQ(ContrastByte(static_cast<uint8_t>(v), factor), want)
                << "level " << level << " byte " << v;
        }
    }
}

TEST(ContrastCurve, IdentityAndFixedPoint) {
    const float one = ContrastFactor(100);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(ContrastByte(static_cast<uint8_t>(v), one), v);
    for (int32_t level : {1, 7, 99, 100, 101, 5000, std::numeric_limits<int32_t>::max()}) {
        EXPECT_EQ(ContrastByte(128, ContrastFactor(level)), 128) << "level " << level;
    }
}

TEST(ContrastCurve, FactorSign) {
    EXPECT_GT(ContrastFactor(1), 0.0f);
    EXPECT_GT(ContrastFactor(std::numeric_limits<int32_t>::max()), 0.0f);
    for (int32_t level : {0, -1, -100, std::numeric_limits<int32_t>::min()}) {
        EXPECT_LE(ContrastFactor(level), 0.0f) << "level " << level;
    }
}

TEST(ContrastCurve, TableHoldsTheCurve) {
    bmpc::ContrastTable table;
    for (int32_t level : {1, 110, 12701, std::numeric_limits<int32_t>::max()}) {
        bmpc::BuildContrastTable(ContrastFactor(level), table);
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(table.map[v], ContrastByte(static_cast<uint8_t>(v), table.factor));
        }
    }
}

TEST(PixelLayout, RowPadding) {
    struct {
        int32_t width;
        int32_t pad8, pad24, pad32;
        int32_t pad1, pad4;
    } const rows[] = {{1, 3, 1, 0, 3, 3}, {2, 2, 2, 0, 3, 3},  {3, 1, 3, 0, 3, 2},
                      {4, 0, 0, 0, 3, 2}, {5, 3, 1, 0, 3, 1},  {8, 0, 0, 0, 3, 0},
                      {9, 3, 1, 0, 2, 3}, {25, 3, 1, 0, 0, 3}, {32, 0, 0, 0, 0, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(bmpc::RowPadding(r.width, 8), r.pad8) << r.width;
        EXPECT_EQ(bmpc::RowPadding(r.width, 24), r.pad24) << r.width;
        EXPECT_EQ(bmpc::RowPadding(r.width, 32), r.pad32) << r.width;
        EXPECT_EQ(bmpc::RowPadding(r.width, 1), r.pad1) << r.width;
        EXPECT_EQ(bmpc::RowPadding(r.width, 4), r.pad4) << r.width;
    }
}

TEST(PixelLayout, GeometryLimits) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    struct Case {
        int32_t width, height, bits;
        bool fits;
        int32_t stride, size;
    } const cases[] = {
        {5, 3, 24, true, 16, 48},
        {5, -3, 24, true, 16, 48},
        {1, 1, 8, true, 4, 4},
        {2147483644, 1, 8, true, 2147483644, 2147483644},  // largest 8-bit stride
        {2147483645, 1, 8, false, 0, 0},                   // pads to 2^31
        {715827881, 1, 24, true, 2147483644, 2147483644},  // 2147483643 + 1 pad
        {715827882, 1, 24, false, 0, 0},                   // 2147483646 + 2 pad
        {536870912, 1, 32, false, 0, 0},                   // 2^31 bytes
        {536870911, 1, 32, true, 2147483644, 2147483644},
        {kMax, 1, 32, false, 0, 0},
        {4, 536870911, 8, true, 4, 2147483644},
        {4, 536870912, 8, false, 0, 0},
        {4, -536870912, 8, false, 0, 0},
        {1, kMax, 8, false, 0, 0},
        {1, kMin, 8, false, 0, 0},
        {1, kMin + 1, 8, false, 0, 0},
        // 1- and 4-bit rows end in the byte that holds the last pixel.
        {1, 2, 1, true, 4, 8},
        {33, 1, 1, true, 8, 8},  // 5 bytes, 3 pad
        {32, 1, 1, true, 4, 4},  // 4 bytes, no pad
        {9, 1, 4, true, 8, 8},   // 4.5 bytes: 5, 3 pad
        {kMax, 1, 1, true, 268435456, 268435456},
        {kMax, 1, 4, true, 1073741824, 1073741824},
        {kMax, 2, 4, false, 0, 0},
    };
    for (const Case& c : cases) {
        bmpc::PixelGeometry g{};
        const bool fits = bmpc::ComputeGeometry(c.width, c.height, c.bits, g);
        EXPECT_EQ(fits, c.fits) << c.width << "x" << c.height << "@" << c.bits;
        if (fits) {
            EXPECT_EQ(g.stride, c.stride);
            EXPECT_EQ(g.size, c.size);
            EXPECT_EQ(g.stride % 4, 0);
            EXPECT_EQ(int64_t{g.stride} * g.rowCount, g.size);
        }
    }
}

}  // namespace
