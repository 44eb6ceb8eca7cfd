#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_builder.h"
#include "bmpcontrast.h"

namespace fs = std::filesystem;

TEST(Smoke, RoundTrip) {
    const fs::path dir = fs::temp_directory_path() / "bmpc_smoke";
    fs::create_directories(dir);
    bmptest::BmpSpec spec;
    spec.width = 5;
    spec.height = -3;
    const auto input = bmptest::BuildBmp(spec);
    bmptest::WriteFile((dir / "in.bmp").string(), input);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int32_t rc = BMPContrast((dir / "in.bmp").u16string().c_str(),
                                   (dir / "out.bmp").u16string().c_str(), 150);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    const auto expected = bmptest::Predict(input, 150);
    EXPECT_EQ(rc, expected.result);
    EXPECT_EQ(out, expected.out);
    EXPECT_EQ(err, expected.err);
    EXPECT_EQ(bmptest::ReadFile((dir / "out.bmp").string()), expected.file);
}
