// Inputs over 2 GiB, made cheap by a sparse file: sizing them must not fail
// on 32-bit targets, or the colour table would be dropped without a word.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "scratch_dir.h"
#include "stdio_capture.h"

namespace {

using bmptest::Bytes;

TEST(LargeFile, ColourTableIsKeptPastTwoGiB) {
    bmptest::ScratchDir dir;
    bmptest::BmpLayout layout;
    layout.width = 5;
    layout.height = 3;
    layout.bitCount = 8;
    const Bytes bmp = bmptest::BuildBmp(layout);
    const std::string in = dir / "big.bmp", out = dir / "out.bmp";
    bmptest::WriteFile(in, bmp);
    std::error_code ec;
    std::filesystem::resize_file(in, (uintmax_t{1} << 31) + 4096, ec);
    if (ec) GTEST_SKIP() << "no sparse file of 2 GiB here: " << ec.message();

    int32_t rc = 0;
    const auto text = bmptest::CaptureStdio(
        [&] { rc = BMPContrast(bmptest::U16(in).c_str(), bmptest::U16(out).c_str(), 150); });
    std::filesystem::remove(in);
    EXPECT_EQ(rc, BMPCONTRAST_SUCCESS) << text.err;
    // The file is longer than the pixel data declares: same bytes as the
    // small file gives.
    EXPECT_EQ(bmptest::ReadFile(out), bmptest::Predict(bmp, 150).file);
}

}  // namespace
