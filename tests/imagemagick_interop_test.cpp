// Interoperability with an independent encoder and decoder: bitmaps written
// by ImageMagick go through the library, and ImageMagick reads the outputs
// back with exactly the expected pixel values.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "call_harness.h"

namespace fs = std::filesystem;
using bmptest::Bytes;
using bmptest::GetLE;

namespace {

std::string Shell(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        std::array<char, 4096> chunk{};
        size_t got = 0;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            output.append(chunk.data(), got);
        pclose(pipe);
    }
    return output;
}

bool HaveImageMagick() {
    static const bool have = Shell("convert -version").find("ImageMagick") != std::string::npos;
    return have;
}

#define REQUIRE_IMAGEMAGICK()                                                         \
    do {                                                                              \
        if (!HaveImageMagick()) {                                                     \
            if (std::getenv("BMPCONTRAST_REQUIRE_IMAGEMAGICK") != nullptr) {          \
                FAIL() << "ImageMagick's convert is required here but not installed"; \
            }                                                                         \
            GTEST_SKIP() << "ImageMagick's convert is not installed";                 \
        }                                                                             \
    } while (0)

using Rgba = std::array<uint8_t, 4>;

// What a decoder should show for `file` after the curve at `level`: pixels
// top row first, as RGBA, computed from the file's own bytes.
std::vector<Rgba> ExpectedPixels(const Bytes& file, int32_t level) {
    const auto offBits = GetLE(file, 10, 4);
    const auto infoSize = GetLE(file, 14, 4);
    const auto width = static_cast<int32_t>(GetLE(file, 18, 4));
    const auto height = static_cast<int32_t>(GetLE(file, 22, 4));
    const auto bits = static_cast<uint16_t>(GetLE(file, 28, 2));
    const size_t rows = static_cast<size_t>(height < 0 ? -height : height);
    const size_t stride = bmptest::Stride(width, bits);
    const size_t bytesPerPixel = bits / 8u;
    auto curve = [level](uint8_t v) { return bmptest::ExpectedByte(v, level); };
    std::vector<Rgba> pixels;
    for (size_t y = 0; y < rows; ++y) {
        const size_t row = height > 0 ? rows - 1 - y : y;
        for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
            const uint8_t* p = file.data() + offBits + row * stride + x * bytesPerPixel;
            if (bits == 8) {
                // The index goes through the curve; the palette does not.
                const uint8_t* entry = file.data() + 14 + infoSize + 4u * curve(p[0]);
                pixels.push_back({entry[2], entry[1], entry[0], 255});
            } else {
                pixels.push_back({curve(p[2]), curve(p[1]), curve(p[0]),
                                  bits == 32 ? curve(p[3]) : uint8_t{255}});
            }
        }
    }
    return pixels;
}

std::vector<Rgba> Decode(const fs::path& bmp, const fs::path& raw) {
    Shell("convert '" + bmp.string() + "' -depth 8 'rgba:" + raw.string() + "'");
    const Bytes bytes = bmptest::ReadFile(raw.string());
    std::vector<Rgba> pixels(bytes.size() / 4);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = {bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2], bytes[4 * i + 3]};
    }
    return pixels;
}

struct Encoding {
    const char* name;
    const char* convertArgs;  // produce the input from ImageMagick's built-in "rose:" picture
    uint16_t bits;
    uint32_t infoSize;
};

const Encoding kEncodings[] = {
    {"Bmp3Rgb", "rose: BMP3:", 24, 40},
    {"V5Rgb", "rose: BMP:", 24, 124},
    {"Bmp3Palette", "rose: -colors 200 -type Palette -compress None BMP3:", 8, 40},
    {"V5Palette", "rose: -colors 200 -type Palette -compress None BMP:", 8, 124},
    {"Bmp3Gray", "rose: -colorspace Gray -type Palette -compress None BMP3:", 8, 40},
    {"Bmp3RgbAlpha",
     "rose: -alpha set -channel A -fx 'i/w' +channel -define bmp3:alpha=true BMP3:", 32, 40},
};

void PrintTo(const Encoding& e, std::ostream* os) { *os << e.name; }

class ImageMagickInterop : public bmptest::ScratchTest,
                           public testing::WithParamInterface<Encoding> {};

TEST_P(ImageMagickInterop, DecodedOutputHasTheExpectedPixels) {
    REQUIRE_IMAGEMAGICK();
    const Encoding& e = GetParam();
    const fs::path in = Path("in.bmp");
    Shell(std::string("convert ") + e.convertArgs + "'" + in.string() + "'");
    ASSERT_TRUE(fs::exists(in)) << "convert did not write " << in;
    const Bytes input = bmptest::ReadFile(in.string());
    // The encoder made what this case is about.
    ASSERT_EQ(GetLE(input, 28, 2), e.bits);
    ASSERT_EQ(GetLE(input, 14, 4), e.infoSize);
    ASSERT_EQ(GetLE(input, 30, 4), 0u);

    // Level 100 checks our reading of the file against the decoder's.
    for (int32_t level : {100, 50, 150, 12701}) {
        const fs::path out = Path("out.bmp");
        const auto got = bmptest::CallContrast(in, out, level);
        ASSERT_EQ(got.result, 999) << got.err;
        bmptest::ExpectPredicted(got, input, level, out);
        const auto decoded = Decode(out, Path("out.rgba"));
        const auto expected = ExpectedPixels(input, level);
        ASSERT_EQ(decoded.size(), expected.size()) << "level " << level;
        size_t mismatches = 0;
        for (size_t i = 0; i < expected.size(); ++i) mismatches += decoded[i] != expected[i];
        EXPECT_EQ(mismatches, 0u) << "level " << level;
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ImageMagickInterop, testing::ValuesIn(kEncodings),
                         [](const auto& param) { return std::string(param.param.name); });

class ImageMagickRefusals : public bmptest::ScratchTest {};

// ImageMagick's default 32-bit output uses bit-field masks, a compression.
TEST_F(ImageMagickRefusals, BitfieldFilesAreCompressed) {
    REQUIRE_IMAGEMAGICK();
    const fs::path in = Path("in.bmp");
    Shell("convert rose: -alpha set '" + in.string() + "'");
    ASSERT_TRUE(fs::exists(in));
    ASSERT_EQ(GetLE(bmptest::ReadFile(in.string()), 30, 4), 3u);
    const auto got = bmptest::CallContrast(in, Path("out.bmp"), 150);
    EXPECT_EQ(got.result, 166);
    EXPECT_EQ(got.err, "Error: Compressed bitmaps are not supported.\n");
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

}  // namespace
