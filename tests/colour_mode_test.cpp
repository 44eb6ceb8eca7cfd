// The engine's colour mode, layout by layout: what it says of a file, the
// bytes it writes (against the builder's own reading of the file), its
// refusals, and sources that end early or cannot tell their size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmpcontrast.h"
#include "engine.h"
#include "engine_run.h"
#include "memory_source.h"
#include "messages.h"

namespace {

using bmpc::Layout;
using bmpc::Mode;
using bmpc::Treatment;
using bmptest::BmpLayout;
using bmptest::Bytes;

bmpc::Description DescribeColour(bmpc::ByteSource& source, int32_t level = 150) {
    bmpc::Description d;
    bmpc::Describe(source, level, d, Mode::Colour);
    return d;
}

bmpc::Description DescribeColour(const Bytes& file, int32_t level = 150) {
    bmpc::MemorySource source(file.data(), file.size());
    return DescribeColour(source, level);
}

Bytes Rle(BmpLayout layout, uint32_t colours) {
    layout.paletteEntries = static_cast<int32_t>(colours);
    layout.pixels = bmptest::RleData(layout.width, layout.height, layout.bitCount, colours, 3);
    return bmptest::BuildBmp(layout);
}

Bytes Prefix(const Bytes& file, size_t n) {
    return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes Trailed(Bytes file) {
    file.insert(file.end(), {'p', 'r', 'o', 'f', 'i', 'l', 'e'});
    return file;
}

constexpr uint32_t kR = 0x00FF0000, kG = 0x0000FF00, kB = 0x000000FF, kA = 0xFF000000;

TEST(ColourMode, EveryLayoutChangesOnlyItsColours) {
    const struct {
        const char* name;
        Bytes file;
        Layout layout;
        Treatment treatment;
        uint8_t curvedBytes;  // ColourBytes only
    } cases[] = {
        {"1-bit", bmptest::BuildBmp({.width = 13, .height = 5, .bitCount = 1}), Layout::Indexed,
         Treatment::ColourTable, 0},
        {"4-bit, 5 colours",
         bmptest::BuildBmp({.width = 9, .height = 4, .bitCount = 4, .paletteEntries = 5}),
         Layout::Indexed, Treatment::ColourTable, 0},
        {"8-bit", bmptest::BuildBmp({.width = 67, .height = 40, .bitCount = 8}), Layout::Indexed,
         Treatment::ColourTable, 0},
        {"8-bit, 16 colours, trailer",
         Trailed(bmptest::BuildBmp({.width = 5, .height = 3, .bitCount = 8, .paletteEntries = 16})),
         Layout::Indexed, Treatment::ColourTable, 0},
        {"8-bit V5", bmptest::BuildBmp({.width = 6, .height = 2, .bitCount = 8, .infoSize = 124}),
         Layout::Indexed, Treatment::ColourTable, 0},
        {"core 4-bit", bmptest::BuildBmp({.width = 3, .height = 2, .bitCount = 4, .infoSize = 12}),
         Layout::Indexed, Treatment::ColourTable, 0},
        {"RLE8", Rle({.width = 20, .height = 6, .bitCount = 8, .compression = 1}, 16),
         Layout::IndexedRle, Treatment::ColourTable, 0},
        {"RLE4 V5, trailer",
         Trailed(
             Rle({.width = 21, .height = 5, .bitCount = 4, .compression = 2, .infoSize = 124}, 16)),
         Layout::IndexedRle, Treatment::ColourTable, 0},
        {"24-bit", bmptest::BuildBmp({.width = 67, .height = 30}), Layout::Rgb24,
         Treatment::EveryByte, 0},
        {"32-bit", bmptest::BuildBmp({.width = 67, .height = 40, .bitCount = 32}), Layout::Rgb32,
         Treatment::ColourBytes, 0b0111},
        {"bit fields BGRX, 40-byte header",
         bmptest::BuildBmp(
             {.width = 67, .height = 40, .bitCount = 32, .compression = 3, .masks = {kR, kG, kB}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b0111},
        {"bit fields BGRA, V5",
         bmptest::BuildBmp({.width = 67,
                            .height = -40,
                            .bitCount = 32,
                            .compression = 3,
                            .infoSize = 124,
                            .masks = {kR, kG, kB, kA}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b0111},
        {"bit fields RGBA, V4",
         bmptest::BuildBmp({.width = 7,
                            .height = 3,
                            .bitCount = 32,
                            .compression = 3,
                            .infoSize = 108,
                            .masks = {kB, kG, kR, kA}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b0111},
        {"bit fields ABGR, V3",
         bmptest::BuildBmp({.width = 67,
                            .height = 40,
                            .bitCount = 32,
                            .compression = 3,
                            .infoSize = 56,
                            .masks = {kA, kR, kG, kB}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b1110},
        {"bit fields XBGR, V5, no alpha",
         bmptest::BuildBmp({.width = 7,
                            .height = 3,
                            .bitCount = 32,
                            .compression = 3,
                            .infoSize = 124,
                            .masks = {kA, kR, kG, 0}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b1110},
        {"alpha bit fields, 40-byte header",
         bmptest::BuildBmp({.width = 7,
                            .height = 3,
                            .bitCount = 32,
                            .compression = 6,
                            .masks = {kR, kG, kB, kA}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b0111},
        {"bit fields, V2",
         bmptest::BuildBmp({.width = 7,
                            .height = 3,
                            .bitCount = 32,
                            .compression = 3,
                            .infoSize = 52,
                            .masks = {kG, kB, kR}}),
         Layout::BitFields32, Treatment::ColourBytes, 0b0111},
    };
    for (const auto& c : cases) {
        const bmpc::Description d = DescribeColour(c.file);
        SCOPED_TRACE(c.name);
        ASSERT_EQ(d.result, Success) << (d.line != nullptr ? d.line : "");
        EXPECT_EQ(d.layout, c.layout);
        EXPECT_EQ(d.treatment, c.treatment);
        if (c.treatment == Treatment::ColourBytes) {
            EXPECT_EQ(d.curvedBytes, c.curvedBytes);
        }
        for (const int32_t level : {150, 50, 100}) {
            const Bytes want = bmptest::PredictColourOutput(c.file, level);
            if (level == 100) {
                EXPECT_EQ(want, c.file);  // the oracle's own sanity
            }
            // The smallest buffer, one that splits rows unevenly, and one
            // that holds the whole output.
            for (const size_t chunk : {bmpc::kMinChunkBytes, bmpc::kMinChunkBytes + 4099,
                                       static_cast<size_t>(d.outputSize)}) {
                const auto o = bmptest::RunEngine(c.file, level, chunk, Mode::Colour);
                ASSERT_EQ(o.result, Success) << "level " << level << ", chunk " << chunk;
                EXPECT_EQ(o.out, bmpc::msg::kSuccess);
                EXPECT_EQ(o.err, "");
                EXPECT_FALSE(o.raw.indexPastPalette);
                EXPECT_EQ(o.file.size(), d.outputSize);
                EXPECT_TRUE(o.file == want) << "level " << level << ", chunk " << chunk;
            }
        }
        // 24-bit pixels are the contract's either way.
        if (c.layout == Layout::Rgb24) {
            EXPECT_EQ(bmptest::RunEngine(c.file, 150, 4096, Mode::Colour).file,
                      bmptest::Predict(c.file, 150).file);
        }
    }
}

// Fields by offset, for files made to be refused.
Bytes Field(Bytes file, size_t at, size_t size, uint32_t value) {
    bmptest::PutLE(file, at, size, value);
    return file;
}

TEST(ColourMode, RefusesWhatItCannotConvertWithALineSayingWhat) {
    namespace cm = bmpc::msg::colour;
    const Bytes rgb = bmptest::BuildBmp({.width = 4, .height = 2});
    const Bytes indexed = bmptest::BuildBmp({.width = 4, .height = 2, .bitCount = 8});
    auto fields32 = [](uint32_t infoSize, uint32_t compression, std::vector<uint32_t> masks) {
        return bmptest::BuildBmp({.width = 3,
                                  .height = 2,
                                  .bitCount = 32,
                                  .compression = compression,
                                  .infoSize = infoSize,
                                  .masks = std::move(masks)});
    };
    const Bytes bgra40 = fields32(40, 3, {kR, kG, kB});
    const struct {
        const char* name;
        Bytes file;
        int32_t result;
        const char* line;
        Layout layout;
    } cases[] = {
        {"16-bit", bmptest::BuildBmp({.width = 4, .height = 2, .bitCount = 16}),
         UnsupportedBitDepth, cm::kDepth16, Layout::Rgb16},
        {"16-bit bit fields", Field(fields32(40, 3, {0xF800, 0x7E0, 0x1F}), 28, 2, 16),
         UnsupportedBitDepth, cm::kDepth16, Layout::Rgb16},
        {"2-bit", Field(indexed, 28, 2, 2), UnsupportedBitDepth, cm::kDepth, Layout::Other},
        {"core 32-bit",
         Field(bmptest::BuildBmp({.width = 2, .height = 2, .infoSize = 12}), 24, 2, 32),
         UnsupportedBitDepth, cm::kCore32, Layout::Other},
        {"JPEG", Field(Field(rgb, 28, 2, 0), 30, 4, 4), CompressionUnsupported, cm::kJpeg,
         Layout::Jpeg},
        {"PNG", Field(Field(rgb, 28, 2, 0), 30, 4, 5), CompressionUnsupported, cm::kPng,
         Layout::Png},
        {"RLE8 on 4 bits", Field(Field(indexed, 28, 2, 4), 30, 4, 1), CompressionUnsupported,
         cm::kCompression, Layout::Other},
        {"bit fields on 24 bits", Field(rgb, 30, 4, 3), CompressionUnsupported, cm::kCompression,
         Layout::Other},
        {"OS/2 RLE24", Field(bmptest::BuildBmp({.infoSize = 64}), 30, 4, 4), CompressionUnsupported,
         cm::kCompression, Layout::Other},
        {"bit fields behind an 80-byte header", fields32(80, 3, {kR, kG, kB}),
         CompressionUnsupported, cm::kMaskHeader, Layout::BitFields32},
        {"masks of 10 bits", fields32(124, 3, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}),
         CompressionUnsupported, cm::kMasks, Layout::BitFields32},
        {"red and green the same byte", fields32(40, 3, {kR, kR, kB}), CompressionUnsupported,
         cm::kMasks, Layout::BitFields32},
        {"alpha over blue", fields32(124, 3, {kR, kG, kB, kB}), CompressionUnsupported, cm::kMasks,
         Layout::BitFields32},
        {"masks cut off", Prefix(bgra40, 60), HeaderReadFailed, cm::kNoMasks, Layout::BitFields32},
        {"pixels where the masks are", Field(bgra40, 10, 4, 54), HeaderReadFailed, cm::kNoMasks,
         Layout::BitFields32},
        {"pixels where the colour table is", Field(indexed, 10, 4, 54), HeaderReadFailed,
         cm::kNoColourTable, Layout::Indexed},
        {"pixels past the end", Field(indexed, 10, 4, 100000), HeaderReadFailed, cm::kNoColourTable,
         Layout::Indexed},
        {"zero width", Field(indexed, 18, 4, 0), InvalidDimensions, bmpc::msg::kInvalidDimensions,
         Layout::Indexed},
        {"height -2^31",
         Field(Rle({.width = 4, .height = 2, .bitCount = 8, .compression = 1}, 4), 22, 4,
               0x80000000),
         InvalidDimensions, bmpc::msg::kInvalidDimensions, Layout::IndexedRle},
        {"not a bitmap", Field(rgb, 0, 2, 0x4D4D), HeaderReadFailed, bmpc::msg::kBadSignature,
         Layout::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes& file = c.file;
        const bmpc::Description d = DescribeColour(file);
        EXPECT_EQ(d.result, c.result);
        EXPECT_STREQ(d.line, c.line);
        EXPECT_EQ(d.layout, c.layout);
        EXPECT_EQ(d.treatment, Treatment::None);
        const auto o = bmptest::RunEngine(file, 150, bmpc::kMinChunkBytes, Mode::Colour);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.err, c.line);
        EXPECT_TRUE(o.file.empty());
        // The contract is not moved by any of this.
        EXPECT_EQ(bmptest::RunEngine(file, 150, bmpc::kMinChunkBytes).result,
                  bmptest::Predict(file, 150).result);
    }
}

// Through a source that cannot tell its size, as a pipe: the colour table
// and the masks before the pixels are read as the offset says, and the
// RLE data is as long as the header says.
TEST(ColourMode, AnUnsizedSourceGivesTheSameBytes) {
    const Bytes rle = Rle({.width = 20, .height = 6, .bitCount = 8, .compression = 1}, 16);
    const Bytes files[] = {
        bmptest::BuildBmp({.width = 9, .height = 4, .bitCount = 4}),
        bmptest::BuildBmp({.width = 5, .height = 3, .bitCount = 8, .infoSize = 124}),
        rle,
        bmptest::BuildBmp({.width = 67,
                           .height = 40,
                           .bitCount = 32,
                           .compression = 3,
                           .infoSize = 124,
                           .masks = {kR, kG, kB, kA}}),
        bmptest::BuildBmp({.width = 5, .height = 3, .bitCount = 32}),
    };
    for (const Bytes& file : files) {
        bmptest::UnsizedSource pipe(file);
        const auto o = bmptest::RunEngine(pipe, 150, bmpc::kMinChunkBytes, Mode::Colour);
        EXPECT_EQ(o.result, Success);
        EXPECT_TRUE(o.file == bmptest::PredictColourOutput(file, 150)) << o.file.size();
    }
    const Bytes unsized = Field(rle, 34, 4, 0);
    bmptest::UnsizedSource pipe(unsized);
    const bmpc::Description d = DescribeColour(pipe);
    EXPECT_EQ(d.result, HeaderReadFailed);
    EXPECT_STREQ(d.line, bmpc::msg::colour::kRleSize);
    // A file has a size, so it needs no size field.
    EXPECT_EQ(DescribeColour(unsized).result, Success);
}

// A file that ends in its pixel data gets the short-read warning, as in
// the contract, and the missing bytes are zero: left so in a colour-table
// file, put through the curve as colour bytes of 32-bit pixels. One that
// ends before its pixel data starts has no colour table to speak of.
TEST(ColourMode, AFileThatEndsEarlyIsWarnedAboutAndZeroFilled) {
    const Bytes indexed = bmptest::BuildBmp({.width = 67, .height = 30, .bitCount = 8});
    const Bytes fields = bmptest::BuildBmp({.width = 67,
                                            .height = 40,
                                            .bitCount = 32,
                                            .compression = 3,
                                            .infoSize = 124,
                                            .masks = {kR, kG, kB, kA}});
    // Level 50 sends 0 to 64, so zeros that went through the curve show.
    for (const auto& [file, length] : {std::pair{indexed, 1078 + 500}, std::pair{fields, 5000}}) {
        const Bytes cut = Prefix(file, static_cast<size_t>(length));
        Bytes zeroed = cut;
        zeroed.resize(file.size(), 0);
        const bmpc::Description d = DescribeColour(cut);
        EXPECT_FALSE(d.complete);
        const auto o = bmptest::RunEngine(cut, 50, bmpc::kMinChunkBytes, Mode::Colour);
        EXPECT_EQ(o.result, Success);
        EXPECT_EQ(o.err, bmpc::msg::kShortRead);
        EXPECT_EQ(o.file.size(), d.outputSize);
        EXPECT_TRUE(o.file == bmptest::PredictColourOutput(zeroed, 50)) << length;
    }
    const bmpc::Description d = DescribeColour(Prefix(indexed, 54 + 4 * 100 + 2));
    EXPECT_EQ(d.result, HeaderReadFailed);
    EXPECT_STREQ(d.line, bmpc::msg::colour::kNoColourTable);
}

}  // namespace
