// The walk over a stretch, given the whole pixel data, against the
// two-block walk on every pad length and depth: same pixel bytes, pad
// bytes left as they were.
#include "apply_contrast.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "contrast_curve.h"
#include "pixel_layout.h"

namespace {

TEST(ApplyContrastSpan, MatchesTwoBlockWalk) {
    bmpc::ContrastTable table{};
    bmpc::BuildContrastTable(bmpc::ContrastFactor(150), table);
    std::mt19937 rng(11);
    for (const int32_t bits : {8, 24, 32}) {
        // Widths 1 to 8 give every pad length; 70 and 300 rows reach the
        // kernels' vector loops.
        for (const int32_t width : {1, 2, 3, 4, 5, 6, 7, 8, 70, 300}) {
            for (const int32_t height : {1, 3, -2}) {
                bmpc::PixelGeometry g{};
                ASSERT_TRUE(bmpc::ComputeGeometry(width, height, bits, g));
                std::vector<uint8_t> in(static_cast<size_t>(g.size));
                for (auto& b : in) b = static_cast<uint8_t>(rng());
                std::vector<uint8_t> expected(in.size());
                bmpc::ApplyContrast(in.data(), expected.data(), g, table);
                std::vector<uint8_t> block = in;
                bmpc::ApplyContrastSpan(block.data(), block.size(), 0, g, table);
                ASSERT_EQ(block, expected) << bits << " bits, " << width << " x " << height;
            }
        }
    }
}

}  // namespace
