// The engine's own answers: what it says of a file before converting it,
// what streaming through any buffer gives, and what it reports besides the
// lines (colour tables, cancelling, a failing sink).
#include "engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "apply_contrast.h"
#include "bmpcontrast.h"
#include "engine_run.h"
#include "memory_source.h"
#include "test_files.h"

namespace {

using bmptest::Bytes;

bmpc::Description DescribeBytes(const Bytes& bytes, int32_t level) {
    bmpc::MemorySource source(bytes.data(), bytes.size());
    bmpc::Description d;
    bmpc::Describe(source, level, d);
    return d;
}

std::string Joined(const bmpc::Diagnostics& lines) {
    std::string all;
    for (const bmpc::Line& line : lines) all += line.text;
    return all;
}

Bytes Cut(Bytes bytes, size_t n) {
    bytes.erase(bytes.end() - static_cast<std::ptrdiff_t>(n), bytes.end());
    return bytes;
}

Bytes Core24() {
    bmptest::BmpLayout layout;
    layout.width = 2;
    layout.height = 2;
    layout.infoSize = 12;
    return bmptest::BuildBmp(layout);
}

// What the description foresees is what the exported call does.
TEST(Describe, ForeseesTheCallsResultAndLines) {
    const Bytes v5 = [] {
        bmptest::BmpLayout layout;
        layout.infoSize = 124;
        layout.bitCount = 32;
        return bmptest::BuildBmp(layout);
    }();
    const struct {
        const char* name;
        Bytes file;
        int32_t level;
    } cases[] = {
        {"24-bit", bmptest::Build(5, 3, 24), 150},
        {"core 24-bit", Core24(), 150},
        {"core 24-bit cut", Cut(Core24(), 3), 150},
        {"core 32-bit", bmptest::With(Core24(), 24, 2, 32), 150},
        {"8-bit", bmptest::Build(3, 2, 8), 50},
        {"V5 32-bit", v5, 200},
        {"cut in the pixels", Cut(bmptest::Build(4, 4, 24), 5), 150},
        {"16-bit bit fields", bmptest::With(bmptest::Build(4, 2, 16), 30, 4, 3), 150},
        {"RLE8", bmptest::With(bmptest::Build(4, 2, 8), 30, 4, 1), 150},
        {"zero width", bmptest::With(bmptest::Build(4, 2, 24), 18, 4, 0), 150},
        {"no info header", Bytes{'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, 150},
        {"level 0", bmptest::Build(4, 2, 24), 0},
    };
    const bmptest::ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bmpc::Description d = DescribeBytes(c.file, c.level);
        bmptest::WriteFile(dir / "in.bmp", c.file);
        const bmptest::Outcome call = bmptest::Call(dir / "in.bmp", dir / "out.bmp", c.level);
        EXPECT_EQ(d.result, call.result);
        EXPECT_EQ(Joined(bmptest::ForeseenLines(d)), call.err + call.out);
        if (call.result == Success) {
            EXPECT_EQ(d.outputSize, bmptest::ReadFile(dir / "out.bmp").size());
        }
    }
}

TEST(Describe, CompleteMeansThePixelsAreAllThere) {
    const Bytes core = Core24();
    EXPECT_TRUE(DescribeBytes(core, 150).complete);
    EXPECT_EQ(DescribeBytes(core, 150).pixelStart, 26);
    EXPECT_FALSE(DescribeBytes(Cut(core, 1), 150).complete);
    const Bytes pal = bmptest::Build(3, 2, 8);
    EXPECT_TRUE(DescribeBytes(pal, 150).complete);
    EXPECT_EQ(DescribeBytes(pal, 150).plan.carried, 1024u);
    // An offset past the end: the pixels are read from there, and are not.
    const bmpc::Description far = DescribeBytes(bmptest::With(pal, 10, 4, 100000), 150);
    EXPECT_FALSE(far.complete);
    EXPECT_FALSE(far.plan.keepsLayout);
}

// Cutting the pixel data into chunks anywhere gives the whole walk's bytes.
TEST(ApplyContrastSpan, AnySplitMatchesTheWholeWalk) {
    bmpc::ContrastTable table{};
    bmpc::BuildContrastTable(bmpc::ContrastFactor(150), table);
    std::mt19937 rng(5);
    for (const int32_t bits : {8, 24, 32}) {
        for (const int32_t width : {1, 2, 3, 5, 67}) {
            bmpc::PixelGeometry g{};
            ASSERT_TRUE(bmpc::ComputeGeometry(width, 9, bits, g));
            std::vector<uint8_t> in(static_cast<size_t>(g.size));
            for (auto& b : in) b = static_cast<uint8_t>(rng());
            std::vector<uint8_t> whole(in.size());
            bmpc::ApplyContrast(in.data(), whole.data(), g, table);
            for (const size_t chunk : {size_t{1}, size_t{3}, size_t{7}, size_t{64}, size_t{301}}) {
                std::vector<uint8_t> pieces = in;
                for (size_t at = 0; at < pieces.size(); at += chunk) {
                    const size_t n = std::min(chunk, pieces.size() - at);
                    bmpc::ApplyContrastSpan(pieces.data() + at, n, at, g, table);
                }
                ASSERT_EQ(pieces, whole) << bits << " bits, width " << width << ", chunk " << chunk;
            }
        }
    }
}

// An 8-bit file whose colour table is shorter than the 256 indices.
Bytes ShortPalette(uint32_t entries, uint8_t highestIndex, bool grey) {
    bmptest::BmpLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.bitCount = 8;
    layout.paletteEntries = static_cast<int32_t>(entries);
    Bytes file = bmptest::BuildBmp(layout);
    for (uint32_t k = 0; k < entries; ++k) {
        const auto v = static_cast<uint8_t>(k);
        file[54 + 4 * k] = v;
        file[55 + 4 * k] = v;
        file[56 + 4 * k] = grey ? v : static_cast<uint8_t>(v ^ 1u);
    }
    const size_t pixels = 54 + 4 * entries;
    for (size_t i = 0; i < 8; ++i) file[pixels + i] = static_cast<uint8_t>(highestIndex - i);
    return file;
}

TEST(ConvertStream, ReportsIndicesSentPastAShortColourTable) {
    const struct {
        uint32_t entries;
        uint8_t highest;
        bool grey;
        int32_t level;
        bool past;
    } cases[] = {
        {252, 250, true, 150, true},   // 250 -> 255, past 252 entries
        {252, 250, false, 150, true},  // the colours do not matter
        {252, 150, true, 150, false},  // 150 -> 161: inside
        {252, 250, true, 100, false},  // the identity sends nothing anywhere
        {252, 250, true, 50, false},   // lower contrast pulls towards 128
        {256, 250, true, 150, false},  // a full table has every index
        {16, 200, true, 150, false},   // already past before the curve
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.entries) + " entries, index " + std::to_string(c.highest) +
                     ", level " + std::to_string(c.level));
        const auto o = bmptest::RunEngine(ShortPalette(c.entries, c.highest, c.grey), c.level,
                                          bmpc::kMinChunkBytes);
        ASSERT_EQ(o.result, Success);
        EXPECT_EQ(o.raw.palette.entries, c.entries);
        EXPECT_EQ(o.raw.palette.grey, c.grey);
        EXPECT_EQ(o.raw.indexPastPalette, c.past);
    }
}

class FailingSink final : public bmpc::ByteSink {
  public:
    explicit FailingSink(size_t allowed) : allowed_(allowed) {}
    bool Write(const uint8_t*, size_t n) noexcept override {
        if (n > allowed_) return false;
        allowed_ -= n;
        return true;
    }

  private:
    size_t allowed_;
};

TEST(ConvertStream, AFailingSinkIsAFailureWithItsLine) {
    const Bytes file = bmptest::Build(300, 40, 24);
    for (const size_t allowed : {size_t{0}, size_t{5000}}) {
        bmpc::MemorySource source(file.data(), file.size());
        FailingSink sink(allowed);
        std::vector<uint8_t> buffer(bmpc::kMinChunkBytes);
        const bmpc::StreamResult r =
            bmptest::ConvertStream(source, sink, 150, buffer.data(), buffer.size());
        EXPECT_EQ(r.result, OutputOpenFailed);
        EXPECT_EQ(Joined(r.lines), "Error: Could not write output file.\n");
    }
}

TEST(ConvertStream, CancelledStopsBeforeTheNextChunk) {
    const Bytes file = bmptest::Build(300, 40, 24);
    bmpc::MemorySource source(file.data(), file.size());
    bmptest::BytesSink sink;
    std::vector<uint8_t> buffer(bmpc::kMinChunkBytes);
    const std::atomic<bool> cancel{true};
    const bmpc::StreamResult r =
        bmptest::ConvertStream(source, sink, 150, buffer.data(), buffer.size(), &cancel);
    EXPECT_TRUE(r.cancelled);
    EXPECT_NE(r.result, Success);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_LT(sink.bytes.size(), file.size());
}

TEST(ConvertStream, RefusesABufferTooSmallForTheHeaders) {
    const Bytes file = bmptest::Build(300, 40, 24);
    bmpc::MemorySource source(file.data(), file.size());
    bmptest::BytesSink sink;
    std::vector<uint8_t> buffer(100);
    const bmpc::StreamResult r =
        bmptest::ConvertStream(source, sink, 150, buffer.data(), buffer.size());
    EXPECT_EQ(r.result, OutputOpenFailed);
    EXPECT_TRUE(sink.bytes.empty());
}

}  // namespace
