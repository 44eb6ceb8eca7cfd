// Whole calls through the exported function: result codes, lines, output
// bytes, layouts and the files a call may and may not touch.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "bmpcontrast.h"
#include "call_harness.h"
#include "pipe_input.h"

namespace fs = std::filesystem;
using bmptest::BmpLayout;
using bmptest::Bytes;
using bmptest::PutLE;

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

const char kSuccessLine[] = "Success: Contrast adjustment applied.\n";
const char kDimensions[] = "Error: Invalid image dimensions.\n";
const char kDepth[] = "Error: Only 8-bit, 24-bit, and 32-bit bitmaps are supported.\n";
const char kCompressed[] = "Error: Compressed bitmaps are not supported.\n";
const char kShortRead[] = "Warning: Could not read all pixel data.\n";

// Header offsets of the fields the cases below edit.
enum : size_t { kOffBits = 10, kWidth = 18, kHeight = 22, kBitCount = 28, kCompression = 30 };

class ContrastCall : public bmptest::ScratchTest {};

// ---------------------------------------------------------------------------
// Files that are refused: the code, the one line, and no output.

struct Refusal {
    const char* name;
    std::function<Bytes()> make;
    int32_t level;
    int32_t result;
    const char* line;
};

Bytes WithField(BmpLayout layout, size_t offset, size_t size, uint32_t value) {
    Bytes file = bmptest::BuildBmp(layout);
    PutLE(file, offset, size, value);
    return file;
}

Bytes Valid() { return bmptest::BuildBmp({}); }

const BmpLayout kCore = {.width = 3, .height = 2, .infoSize = 12};

const std::vector<Refusal>& Refusals() {
    static const std::vector<Refusal> cases = {
        {"LevelZero", Valid, 0, 12, "Error: Contrast level must be positive.\n"},
        {"LevelNegative", Valid, -1, 12, "Error: Contrast level must be positive.\n"},
        {"LevelMin", Valid, kMin, 12, "Error: Contrast level must be positive.\n"},
        {"Empty", [] { return Bytes{}; }, 100, 1333, "Error: Could not read file signature.\n"},
        {"SwappedSignature", [] { return WithField({}, 0, 2, 0x424D); }, 100, 1333,
         "Error: Invalid BMP file signature.\n"},
        {"WidthZero", [] { return WithField({}, kWidth, 4, 0); }, 100, 1444, kDimensions},
        {"Depth1", [] { return WithField({}, kBitCount, 2, 1); }, 100, 14444, kDepth},
        {"Rle8", [] { return WithField({.bitCount = 8}, kCompression, 4, 1); }, 100, 166,
         kCompressed},
        // The 12-byte core header: 16-bit fields at 18, 20, 22 and 24.
        {"CoreWidthZero", [] { return WithField(kCore, 18, 2, 0); }, 100, 1444, kDimensions},
        {"CoreHeightZero", [] { return WithField(kCore, 20, 2, 0); }, 100, 1444, kDimensions},
        {"CoreDepth32", [] { return WithField(kCore, 24, 2, 32); }, 100, 14444, kDepth},
        {"CoreDepth4", [] { return WithField(kCore, 24, 2, 4); }, 100, 14444, kDepth},
        {"CoreCutInHeader",
         [] {
             Bytes file = bmptest::BuildBmp(kCore);
             file.resize(25);
             return file;
         },
         100, 1333, "Error: Could not read info header.\n"},
    };
    return cases;
}

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class Refused : public ContrastCall, public testing::WithParamInterface<Refusal> {};

TEST_P(Refused, PrintsOneLineAndLeavesTheOutputAlone) {
    const Refusal& c = GetParam();
    const Bytes input = c.make();
    const fs::path in = Put("in.bmp", input);
    // An existing output must survive every failure before the output is opened.
    const Bytes before = {'k', 'e', 'e', 'p'};
    const fs::path out = Put("out.bmp", before);
    const auto got = bmptest::CallContrast(in, out, c.level);
    EXPECT_EQ(got.result, c.result);
    EXPECT_EQ(got.err, c.line);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(bmptest::ReadFile(out.string()), before);
    EXPECT_EQ(bmptest::ReadFile(in.string()), input);
    // The shared oracle agrees, so the fuzz and sweep tests check the same thing.
    EXPECT_EQ(bmptest::Predict(input, c.level).result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, Refused, testing::ValuesIn(Refusals()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ContrastCall, LevelIsCheckedBeforeAnyFileIsTouched) {
    const auto got = bmptest::CallContrast(Path("missing.bmp"), Path("out.bmp"), 0);
    EXPECT_EQ(got.result, 12);
    EXPECT_EQ(got.err, "Error: Contrast level must be positive.\n");
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

TEST_F(ContrastCall, MissingInputPrintsNothing) {
    const auto got = bmptest::CallContrast(Path("missing.bmp"), Path("out.bmp"), 150);
    EXPECT_EQ(got.result, 13);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.out, "");
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

TEST_F(ContrastCall, NullPaths) {
    const fs::path in = Put("in.bmp", Valid());
    auto got = bmptest::CallContrast(nullptr, Path("out.bmp").u16string().c_str(), 100);
    EXPECT_EQ(got.result, 13);
    EXPECT_EQ(got.err + got.out, "");
    got = bmptest::CallContrast(in.u16string().c_str(), nullptr, 100);
    EXPECT_EQ(got.result, 41);
    EXPECT_EQ(got.err + got.out, "");
    got = bmptest::CallContrast(u"", u"", 100);
    EXPECT_EQ(got.result, 13);
}

// ---------------------------------------------------------------------------
// Files that convert: every byte of the output as predicted.

struct Conversion {
    const char* name;
    BmpLayout layout;
    int32_t level;
    std::function<void(Bytes&)> edit;  // applied to the built file, if set
};

const std::vector<Conversion>& Conversions() {
    static const std::vector<Conversion> cases = {
        {"Rgb1x1", {.width = 1, .height = 1}, 150, {}},
        {"RgbWidth2", {.width = 2, .height = 3}, 150, {}},
        {"RgbWidth3", {.width = 3, .height = 3}, 50, {}},
        {"RgbWidth4", {.width = 4, .height = 3}, 50, {}},
        {"RgbWidth5", {.width = 5, .height = 3}, 200, {}},
        {"RgbTopDown", {.width = 5, .height = -3}, 150, {}},
        {"Rgba", {.width = 5, .height = 4, .bitCount = 32}, 150, {}},
        {"RgbaTopDown", {.width = 3, .height = -4, .bitCount = 32}, 10, {}},
        {"Gray8", {.width = 7, .height = 5, .bitCount = 8}, 150, {}},
        {"Gray8NoPalette", {.width = 7, .height = 5, .bitCount = 8, .paletteEntries = 0}, 150, {}},
        {"Gray8SmallPalette",
         {.width = 6, .height = -2, .bitCount = 8, .paletteEntries = 16},
         1,
         {}},
        {"InfoV4", {.width = 5, .height = 3, .infoSize = 108}, 150, {}},
        {"InfoV5Rgba", {.width = 5, .height = 3, .bitCount = 32, .infoSize = 124}, 99, {}},
        {"InfoV5Palette", {.width = 9, .height = 4, .bitCount = 8, .infoSize = 124}, 101, {}},
        {"Wide", {.width = 1001, .height = 7}, 110, {}},
        {"Tall", {.width = 1, .height = 1000, .bitCount = 8, .paletteEntries = 0}, 70, {}},
        // Pixel data that does not start at 54: carried over, or the 54-byte
        // layout with the offset corrected.
        {"OffsetInsideHeader", {.overrideOffBits = true, .offBits = 20}, 150, {}},
        {"OffsetZero", {.overrideOffBits = true, .offBits = 0}, 150, {}},
        {"OffsetNegative", {.overrideOffBits = true, .offBits = -1}, 150, {}},
        {"OffsetMin", {.overrideOffBits = true, .offBits = kMin}, 150, {}},
        {"OffsetPastEnd", {.overrideOffBits = true, .offBits = kMax}, 150, {}},
        {"OffsetJustPastEnd",
         {.width = 2, .height = 2, .overrideOffBits = true, .offBits = 71},
         150,
         {}},
        {"OffsetAtEnd", {.width = 2, .height = 2, .overrideOffBits = true, .offBits = 70}, 150, {}},
        {"Offset55", {.width = 2, .height = 2, .overrideOffBits = true, .offBits = 55}, 150, {}},
        {"PaletteOffsetWrong", {.bitCount = 8, .overrideOffBits = true, .offBits = 54}, 150, {}},
        // Short pixel data: a warning, then success, with zeros for the rest.
        {"ShortPixels", {.width = 5, .height = 3}, 150, [](Bytes& f) { f.resize(f.size() - 17); }},
        {"NoPixels", {.width = 5, .height = 3}, 150, [](Bytes& f) { f.resize(54); }},
        {"ShortPalette",
         {.width = 5, .height = 3, .bitCount = 8},
         150,
         [](Bytes& f) { f.resize(500); }},
        // Bytes after the pixel data (an ICC profile, say) follow the pixels;
        // with a corrected offset or short pixels they are left out.
        {"TrailingBytes",
         {.width = 5, .height = 3},
         150,
         [](Bytes& f) { f.insert(f.end(), 9, 0xEE); }},
        {"TrailingBytesAfterPalette",
         {.width = 5, .height = 3, .bitCount = 8, .infoSize = 124},
         50,
         [](Bytes& f) { f.insert(f.end(), 3000, 0x5A); }},
        {"TrailingBytesOffsetCorrected",
         {.overrideOffBits = true, .offBits = 20},
         150,
         [](Bytes& f) { f.insert(f.end(), 9, 0xEE); }},
        // The core header: 3-byte palette entries, rows bottom-up, the
        // layout kept; a damaged offset gives the 26-byte layout.
        {"Core24", {.width = 5, .height = 3, .infoSize = 12}, 150, {}},
        {"Core8", {.width = 7, .height = 2, .bitCount = 8, .infoSize = 12}, 50, {}},
        {"Core1x1", {.width = 1, .height = 1, .infoSize = 12}, 200, {}},
        {"CoreTrailer",
         {.width = 3, .height = 2, .bitCount = 8, .infoSize = 12},
         150,
         [](Bytes& f) { f.insert(f.end(), 5, 0x77); }},
        {"CoreOffsetInHeader", {.infoSize = 12, .overrideOffBits = true, .offBits = 14}, 150, {}},
        {"CoreOffsetPastEnd", {.infoSize = 12, .overrideOffBits = true, .offBits = 999}, 150, {}},
        {"CoreShortPixels",
         {.width = 5, .height = 3, .infoSize = 12},
         150,
         [](Bytes& f) { f.resize(f.size() - 7); }},
        {"CoreIgnoresBytesOf40ByteHeader",
         {.width = 300, .height = 1, .infoSize = 12},
         100,
         [](Bytes& f) { PutLE(f, 28, 2, 16), PutLE(f, 30, 4, 3); }},
        // Fields nobody examines are carried over exactly.
        {"OddFieldsKept",
         {.width = 3, .height = 2},
         150,
         [](Bytes& f) {
             PutLE(f, 2, 4, 0xDEADBEEF);   // bfSize
             PutLE(f, 6, 4, 0x01020304);   // reserved
             PutLE(f, 26, 2, 7);           // planes
             PutLE(f, 34, 4, 0xFFFFFFFF);  // biSizeImage is never used
             PutLE(f, 46, 4, 0xAABBCCDD);
         }},
        {"HugeLevel12700", {.width = 9, .height = 9, .bitCount = 8}, 12700, {}},
        {"HugeLevel12701", {.width = 9, .height = 9, .bitCount = 8}, 12701, {}},
        {"HugeLevel1677721920", {.width = 9, .height = 9, .bitCount = 32}, 1677721920, {}},
        {"HugeLevel1677721921", {.width = 9, .height = 9, .bitCount = 32}, 1677721921, {}},
        {"HugeLevelMax", {.width = 9, .height = 9}, kMax, {}},
    };
    return cases;
}

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class Converts : public ContrastCall, public testing::WithParamInterface<Conversion> {};

TEST_P(Converts, OutputIsAsPredicted) {
    const Conversion& c = GetParam();
    Bytes input = bmptest::BuildBmp(c.layout);
    if (c.edit) c.edit(input);
    const fs::path in = Put("in.bmp", input);
    const fs::path out = Path("out.bmp");
    const auto got = bmptest::CallContrast(in, out, c.level);
    ASSERT_EQ(got.result, 999) << got.err;
    bmptest::ExpectPredicted(got, input, c.level, out);
    EXPECT_EQ(bmptest::ReadFile(in.string()), input) << "the input was modified";
}

INSTANTIATE_TEST_SUITE_P(Cases, Converts, testing::ValuesIn(Conversions()),
                         [](const auto& param) { return std::string(param.param.name); });

// Independent of the oracle: facts a reader can check by eye.
// A complete file comes back byte for byte at level 100, whatever its
// header and whatever follows its pixels.
TEST_F(ContrastCall, LevelHundredCopiesTheFile) {
    const BmpLayout layouts[] = {
        {.width = 5, .height = -3, .bitCount = 24},
        {.width = 5, .height = 3, .bitCount = 32, .infoSize = 124},
        {.width = 3, .height = 3, .bitCount = 8},
        {.width = 3, .height = 3, .bitCount = 8, .infoSize = 12},
        {.width = 2, .height = 1, .infoSize = 12},
    };
    for (const BmpLayout& layout : layouts) {
        for (const size_t trailer : {0, 1, 3000}) {
            Bytes input = bmptest::BuildBmp(layout);
            input.insert(input.end(), trailer, 0xC3);
            const fs::path in = Put("in.bmp", input);
            const auto got = bmptest::CallContrast(in, Path("out.bmp"), 100);
            EXPECT_EQ(got.result, 999);
            EXPECT_EQ(got.out, kSuccessLine);
            EXPECT_EQ(got.err, "");
            EXPECT_EQ(bmptest::ReadFile(Path("out.bmp").string()), input)
                << layout.bitCount << "-bit, info header " << layout.infoSize << ", " << trailer
                << " bytes after the pixels";
        }
    }
}

// The trailer is carried up to 64 MiB; a longer one is left out whole.
TEST_F(ContrastCall, TrailerLimit) {
    constexpr size_t kLimit = size_t{64} << 20;
    for (const size_t trailer : {kLimit, kLimit + 1}) {
        const Bytes pixels = bmptest::BuildBmp({.width = 2, .height = 2});
        Bytes input = pixels;
        input.resize(pixels.size() + trailer, 0x42);
        const fs::path in = Put("in.bmp", input);
        const auto got = bmptest::CallContrast(in, Path("out.bmp"), 100);
        EXPECT_EQ(got.result, 999);
        const Bytes& want = trailer == kLimit ? input : pixels;
        EXPECT_TRUE(bmptest::ReadFile(Path("out.bmp").string()) == want) << trailer;
        EXPECT_TRUE(bmptest::Predict(input, 100).file == want) << trailer;
    }
}

TEST_F(ContrastCall, PadBytesAndPaletteAreNotAdjusted) {
    // 8-bit, width 1: one pixel byte and three pad bytes per row.
    const Bytes input = bmptest::BuildBmp({.width = 1, .height = 2, .bitCount = 8});
    const fs::path in = Put("in.bmp", input);
    ASSERT_EQ(bmptest::CallContrast(in, Path("out.bmp"), 200).result, 999);
    const Bytes out = bmptest::ReadFile(Path("out.bmp").string());
    ASSERT_EQ(out.size(), input.size());
    const size_t pixels = 54 + 1024;
    EXPECT_TRUE(std::equal(input.begin(), input.begin() + pixels, out.begin()));
    for (size_t row = 0; row < 2; ++row) {
        const size_t at = pixels + 4 * row;
        EXPECT_EQ(out[at], bmptest::ExpectedByte(input[at], 200));
        for (size_t pad = 1; pad < 4; ++pad) EXPECT_EQ(out[at + pad], input[at + pad]);
    }
}

TEST_F(ContrastCall, ShortReadZeroFills) {
    Bytes input = bmptest::BuildBmp({.width = 4, .height = 2, .bitCount = 32});
    input.resize(54 + 10);
    const fs::path in = Put("in.bmp", input);
    const auto got = bmptest::CallContrast(in, Path("out.bmp"), 50);
    EXPECT_EQ(got.result, 999);
    EXPECT_EQ(got.err, kShortRead);
    EXPECT_EQ(got.out, kSuccessLine);
    const Bytes out = bmptest::ReadFile(Path("out.bmp").string());
    ASSERT_EQ(out.size(), 54u + 32u);
    for (size_t i = 54 + 10; i < out.size(); ++i) EXPECT_EQ(out[i], 64) << i;  // curve(0) at 50
}

// A call whose output is another file streams it through a small chunk;
// one whose output is the input, or a hard link to it, holds it whole.
// Either way the lines, their order and the bytes are those of the call
// that reads everything before it opens the output: a short file whose
// output cannot be opened still warns first.
TEST_F(ContrastCall, StreamedOrWholeTheCallIsTheSame) {
    bmptest::BmpLayout layout{.width = 300, .height = 500, .bitCount = 24};
    const Bytes input = bmptest::BuildBmp(layout);
    Bytes cut = input;
    cut.resize(input.size() - 1000);
    struct Case {
        const char* name;
        const Bytes& bytes;
        bool sameFile;
        bool unopenable;
    } cases[] = {
        {"another file", input, false, false},
        {"the same file", input, true, false},
        {"a short file", cut, false, false},
        {"a short file, unopenable output", cut, false, true},
        {"a complete file, unopenable output", input, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path in = Put("in.bmp", c.bytes);
        fs::remove(Path("link.bmp"));
        fs::create_hard_link(in, Path("link.bmp"));
        const fs::path out = c.unopenable ? Path("no/such/folder/out.bmp")
                             : c.sameFile ? Path("link.bmp")
                                          : Path("out.bmp");
        const auto got = bmptest::CallContrast(in, out, 150);
        if (c.unopenable) {
            EXPECT_EQ(got.result, 41);
            EXPECT_EQ(got.out, "");
            EXPECT_EQ(got.err, &c.bytes == &cut ? kShortRead : "");
        } else {
            bmptest::ExpectPredicted(got, c.bytes, 150, out);
        }
    }
}

TEST_F(ContrastCall, OutputMayNameTheInput) {
    const Bytes input = bmptest::BuildBmp({.width = 5, .height = 3, .bitCount = 8});
    const fs::path in = Put("in.bmp", input);
    const auto got = bmptest::CallContrast(in, in, 150);
    bmptest::ExpectPredicted(got, input, 150, in);
}

TEST_F(ContrastCall, ExistingOutputIsReplaced) {
    const Bytes input = Valid();
    const fs::path in = Put("in.bmp", input);
    const fs::path out = Put("out.bmp", Bytes(5000, 0x55));  // longer than the result
    bmptest::ExpectPredicted(bmptest::CallContrast(in, out, 150), input, 150, out);
}

// ---------------------------------------------------------------------------
// Paths: any valid UTF-16 works; an unpaired surrogate names no file.

TEST_F(ContrastCall, UnicodePaths) {
    const Bytes input = Valid();
    const fs::path in =
        Put(u8"entr\xC3\xA9\x65-\xE7\x94\xBB\xE5\x83\x8F-\xF0\x9F\x98\x80.bmp", input);
    const fs::path out = Path(u8"\xD0\xB2\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4-\xF0\x90\x80\x80.bmp");
    bmptest::ExpectPredicted(bmptest::CallContrast(in, out, 150), input, 150, out);
}

TEST_F(ContrastCall, UnpairedSurrogatesNameNoFile) {
    const fs::path in = Put("in.bmp", Valid());
    // The file a replacement character (U+FFFD) would have opened exists.
    Put(u8"x\xEF\xBF\xBD.bmp", Valid());
    const std::u16string dir = scratch_.path().u16string() + u"/";
    const std::u16string bad[] = {dir + u"x\xD800.bmp", dir + u"x\xDC00.bmp", dir + u"x.bmp\xD83D",
                                  dir + u"x\xDE00\xD83D.bmp"};
    const std::ptrdiff_t filesBefore =
        std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator());
    for (const std::u16string& path : bad) {
        auto got = bmptest::CallContrast(path.c_str(), (dir + u"out.bmp").c_str(), 150);
        EXPECT_EQ(got.result, 13);
        EXPECT_EQ(got.err + got.out, "");
        got = bmptest::CallContrast(in.u16string().c_str(), path.c_str(), 150);
        EXPECT_EQ(got.result, 41);
        EXPECT_EQ(got.err + got.out, "");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()),
              filesBefore);
}

// An input without a size (a pipe) keeps its layout, but what follows the
// pixels cannot be measured in advance and is left out.
TEST_F(ContrastCall, PipeInputDropsTheTrailer) {
    const Bytes image = bmptest::BuildBmp({.width = 5, .height = 3});
    Bytes input = image;
    input.insert(input.end(), 100, 0xEE);
    bmptest::CallOutcome got{};
    {
        const bmptest::PipeInput pipe(scratch_.path(), input);
        got = bmptest::CallContrast(pipe.path(), Path("out.bmp"), 100);
    }
    EXPECT_EQ(got.result, 999);
    EXPECT_EQ(got.err, "");
    EXPECT_TRUE(bmptest::ReadFile(Path("out.bmp").string()) == image);
}

}  // namespace
