// Crafted and damaged bitmaps: a table naming each hostile-input class, and
// a deterministic sweep of byte, bit and length mutations of valid files.
// Every call is checked against the oracle in full (result, both streams,
// output bytes), and a failure must leave an existing output file alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "scratch_dir.h"
#include "stdio_capture.h"
#include "test_files.h"

namespace {

using bmptest::BmpLayout;
using bmptest::Bytes;

using bmptest::kSentinel;

// Runs one call on `input` with an output file present beforehand (or not)
// and reports every way it differs from the oracle; empty when it matches.
class CallChecker {
  public:
    std::string Check(const Bytes& input, int32_t level, bool outputExists) {
        bmptest::WriteFile(in_, input);
        if (outputExists) {
            bmptest::WriteFile(out_, kSentinel);
        } else {
            std::error_code ignored;
            std::filesystem::remove(out_, ignored);
        }
        int32_t result = 0;
        const auto text = bmptest::CaptureStdio([&] {
            result = BMPContrast(bmptest::U16(in_).c_str(), bmptest::U16(out_).c_str(), level);
        });
        const bmptest::Expected want = bmptest::Predict(input, level);
        std::string problems;
        if (result != want.result) {
            problems +=
                "result " + std::to_string(result) + " != " + std::to_string(want.result) + "; ";
        }
        if (text.err != want.err) problems += "stderr \"" + text.err + "\"; ";
        if (text.out != want.out) problems += "stdout \"" + text.out + "\"; ";
        const bool exists = std::filesystem::exists(out_);
        if (want.result == 999) {
            if (!exists || bmptest::ReadFile(out_) != want.file)
                problems += "output bytes differ; ";
        } else if (outputExists) {
            if (!exists || bmptest::ReadFile(out_) != kSentinel) problems += "old output touched; ";
        } else if (exists) {
            problems += "output created on failure; ";
        }
        return problems;
    }

  private:
    bmptest::ScratchDir dir_;
    std::string in_ = dir_ / "in.bmp";
    std::string out_ = dir_ / "out.bmp";
};

using bmptest::Build;
using bmptest::With;

// A small valid file with its size fields replaced: the pixel data it
// claims is not there.
Bytes Claiming(uint32_t width, uint32_t height, uint16_t bitCount) {
    return With(With(With(Build(3, 2, bitCount, 0), 18, 4, width), 22, 4, height), 28, 2, bitCount);
}

struct HostileCase {
    std::string name;
    std::function<Bytes()> make;
    int32_t result;
};

constexpr int32_t kDims = InvalidDimensions;

std::vector<HostileCase> HostileCases() {
    std::vector<HostileCase> cases = {
        // Stride and size arithmetic that does not fit in 32 bits.
        {"StrideOverflow32Bit", [] { return Claiming(0x7FFFFFFF, 1, 32); }, kDims},
        {"StrideOverflow24BitByOne", [] { return Claiming(715827883, 1, 24); }, kDims},
        {"StrideFitsSizeOverflows", [] { return Claiming(536870911, 2, 32); }, kDims},
        {"SizeOverflowSquare", [] { return Claiming(65536, 65536, 24); }, kDims},
        {"SizeExactly2To31", [] { return Claiming(1, 536870912, 8); }, kDims},
        {"SizeOverflowTopDown", [] { return Claiming(1000, static_cast<uint32_t>(-3000000), 24); },
         kDims},
        // The most negative height has no positive row count.
        {"HeightMin8Bit", [] { return Claiming(1, 0x80000000, 8); }, kDims},
        {"HeightMin24Bit", [] { return Claiming(3, 0x80000000, 24); }, kDims},
        {"HeightMin32Bit", [] { return Claiming(1, 0x80000000, 32); }, kDims},
        {"HeightMinPlusOne", [] { return Claiming(1, 0x80000001, 8); }, kDims},
        {"WidthNegative", [] { return Claiming(0xFFFFFFFB, 2, 24); }, kDims},
        {"WidthZero", [] { return Claiming(0, 2, 24); }, kDims},
        {"HeightZero", [] { return Claiming(3, 0, 24); }, kDims},
        // A tiny file claiming a large image that fits: read short, zero-filled.
        // (One claiming close to 2 GiB would make the call allocate twice
        // that, which is the design; the fault tests cover such sizes.)
        {"TinyFileClaims16MiB", [] { return Claiming(2048, 2048, 32); }, Success},
        {"HeadersOnlyClaimOnePixel", [] { return Claiming(1, 1, 24); }, Success},
        // Pixel-data offsets that point anywhere but at the pixel data.
        {"OffBitsNegative", [] { return With(Build(3, 2, 24), 10, 4, 0xFFFFFFFF); }, Success},
        {"OffBitsMostNegative", [] { return With(Build(5, 2, 8, 4), 10, 4, 0x80000000); }, Success},
        {"OffBitsZero", [] { return With(Build(3, 2, 24), 10, 4, 0); }, Success},
        {"OffBitsInsideFileHeader", [] { return With(Build(3, 2, 24), 10, 4, 13); }, Success},
        {"OffBitsInsideInfoHeader", [] { return With(Build(2, 2, 32), 10, 4, 53); }, Success},
        {"OffBitsIntoPalette", [] { return With(Build(5, 3, 8, 4), 10, 4, 58); }, Success},
        {"OffBitsAtEndOfFile", [] { return With(Build(3, 2, 24), 10, 4, 78); }, Success},
        {"OffBitsOnePastEnd", [] { return With(Build(3, 2, 24), 10, 4, 79); }, Success},
        {"OffBitsFarPastEnd", [] { return With(Build(3, 2, 24), 10, 4, 0x7FFFFFFF); }, Success},
        {"SignatureSwapped", [] { return With(Build(3, 2, 24), 0, 2, 0x424D); }, HeaderReadFailed},
        // Checks run in order: dimensions, depth, compression, then size.
        {"ZeroWidthBeatsBadDepth", [] { return With(Claiming(0, 2, 24), 28, 2, 16); }, kDims},
        {"BadDepthBeatsCompression",
         [] { return With(With(Build(3, 2, 24), 28, 2, 16), 30, 4, 1); }, UnsupportedBitDepth},
        {"BadDepthBeatsHeightMin", [] { return With(Claiming(1, 0x80000000, 24), 28, 2, 4); },
         UnsupportedBitDepth},
        {"CompressionBeatsSizeOverflow",
         [] { return With(Claiming(0x7FFFFFFF, 0x7FFFFFFF, 32), 30, 4, 3); },
         CompressionUnsupported},
    };
    for (const uint32_t depth : {0u, 1u, 2u, 4u, 7u, 15u, 16u, 23u, 31u, 33u, 48u, 64u, 0xFFFFu}) {
        cases.push_back({"UnsupportedDepth" + std::to_string(depth),
                         [depth] { return With(Build(3, 2, 24), 28, 2, depth); },
                         UnsupportedBitDepth});
    }
    for (const uint32_t compression : {1u, 2u, 3u, 4u, 5u, 6u, 11u, 0x80000000u, 0xFFFFFFFFu}) {
        cases.push_back({"Compression" + std::to_string(compression),
                         [compression] { return With(Build(2, 2, 32), 30, 4, compression); },
                         CompressionUnsupported});
    }
    return cases;
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileInput : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, GivesItsCodeAndExactlyWhatTheOracleSays) {
    const Bytes input = GetParam().make();
    CallChecker checker;
    for (const int32_t level : {150, 1, 12701}) {
        for (const bool outputExists : {true, false}) {
            EXPECT_EQ(checker.Check(input, level, outputExists), "")
                << "level " << level << (outputExists ? ", output existed" : "");
        }
    }
    EXPECT_EQ(bmptest::Predict(input, 150).result, GetParam().result) << "case mislabelled";
}

INSTANTIATE_TEST_SUITE_P(Classes, HostileInput, testing::ValuesIn(HostileCases()),
                         [](const auto& param) { return param.param.name; });

// Valid files small enough that every mutation of every byte is cheap: an
// 8-bit file with a colour table, 24-bit rows with pad bytes, a 32-bit
// top-down file and a V5 header.
std::vector<std::pair<std::string, Bytes>> SweepBases() {
    BmpLayout v5;
    v5.width = 2;
    v5.height = 2;
    v5.infoSize = 124;
    return {{"8-bit palette", Build(5, 3, 8, 4)},
            {"24-bit pad", Build(3, 2, 24)},
            {"32-bit top-down", Build(2, -2, 32)},
            {"V5 header", bmptest::BuildBmp(v5)}};
}

TEST(MutationSweep, EveryByteValueBitFlipAndCutMatchesTheOracle) {
    // Mutants declaring more pixel data than this are honest large images;
    // the sweep is about parsing, so they are counted and left out.
    constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 20;
    constexpr int32_t kLevels[] = {150, 50, 100, 12701, 1, 200, 99};
    CallChecker checker;
    int calls = 0;
    int skipped = 0;
    int failures = 0;
    const auto run = [&](const std::string& what, const Bytes& input) {
        if (bmptest::DeclaredPixelBytes(input) > kMaxPixelBytes) {
            ++skipped;
            return;
        }
        const int32_t level = kLevels[calls % 7];
        const std::string problems = checker.Check(input, level, calls % 2 == 0);
        ++calls;
        if (!problems.empty() && ++failures <= 20) {
            ADD_FAILURE() << what << " at level " << level << ": " << problems;
        }
    };
    for (const auto& [name, base] : SweepBases()) {
        for (size_t i = 0; i < base.size(); ++i) {
            const std::string at = name + ", byte " + std::to_string(i);
            Bytes mutant = base;
            for (const uint8_t value : {uint8_t{0}, uint8_t{255}, static_cast<uint8_t>(~base[i])}) {
                mutant[i] = value;
                run(at + " = " + std::to_string(value), mutant);
            }
            for (int bit = 0; bit < 8; ++bit) {
                mutant[i] = static_cast<uint8_t>(base[i] ^ (1u << bit));
                run(at + " bit " + std::to_string(bit) + " flipped", mutant);
            }
        }
        for (size_t length = 0; length < base.size(); ++length) {
            run(name + " cut to " + std::to_string(length),
                Bytes(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(length)));
        }
    }
    EXPECT_EQ(failures, 0);
    RecordProperty("calls", calls);
    RecordProperty("skipped_large", skipped);
    std::printf("mutation sweep: %d calls, %d large mutants skipped\n", calls, skipped);
}

// Every length of a file with a V5 header and a colour table: each header
// field boundary, the header tail, the palette and the pixel rows.
TEST(Truncation, EveryLengthOfAV5PaletteFile) {
    BmpLayout layout;
    layout.width = 3;
    layout.height = -2;
    layout.bitCount = 8;
    layout.infoSize = 124;
    layout.paletteEntries = 3;
    const Bytes full = bmptest::BuildBmp(layout);
    CallChecker checker;
    for (size_t length = 0; length <= full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(checker.Check(cut, 150, true), "") << "cut to " << length;
    }
}

}  // namespace
