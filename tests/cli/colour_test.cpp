// The tool's colour mode (--colour) in every form, and what the tool says
// about files it refuses: the layout and the way to a file that converts,
// other formats by name, and ImageMagick's own files with alpha.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "peer_tools.h"
#include "run_tool.h"
#include "tool_fixture.h"

namespace {

using bmptest::Bytes;
using bmptest::PredictColourOutput;
using bmptest::ReadFile;
using bmptest::WriteFile;
using tooltest::AsString;
using tooltest::Has;
using tooltest::kSuccessLine;
using tooltest::RunTool;
using tooltest::Tool;
namespace fs = std::filesystem;

struct ColourCase {
    const char* name;
    uint16_t bits;
    uint32_t compression;
    uint32_t infoSize = 40;
    std::vector<uint32_t> masks = {};
};

// A file of the case's layout whose colour table, if it has one, is not
// grey, so that contract mode would shift its colours.
Bytes ColourFile(const ColourCase& c) {
    bmptest::BmpLayout layout;
    layout.width = 13;
    layout.height = 5;
    layout.bitCount = c.bits;
    layout.compression = c.compression;
    layout.infoSize = c.infoSize;
    layout.masks = c.masks;
    layout.seed = c.bits + c.compression;
    const bool rle = c.compression == 1 || c.compression == 2;
    if (rle) layout.pixels = bmptest::RleData(13, 5, c.bits, 1u << c.bits, 7);
    Bytes file = bmptest::BuildBmp(layout);
    if (c.bits <= 8) {
        const size_t table = 14 + c.infoSize;
        for (size_t k = 0; k < (size_t{1} << c.bits); ++k) {
            file[table + 4 * k + 2] = static_cast<uint8_t>(255 - 9 * k);  // red apart
        }
    }
    return file;
}

const ColourCase kColourCases[] = {
    {"8-bit", 8, 0},
    {"4-bit", 4, 0},
    {"1-bit", 1, 0},
    {"RLE8", 8, 1},
    {"RLE4", 4, 2},
    {"24-bit", 24, 0},
    {"32-bit", 32, 0},
    {"32-bit, V5 bit fields with alpha", 32, 3, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
    {"32-bit, alpha bit fields", 32, 6, 40, {0xFF00, 0xFF0000, 0xFF000000, 0xFF}},
    {"8-bit, its table past a 4 KiB info header", 8, 0, 4200},
};

// The single form, standard input to standard output, a batch, in place
// and a dry run: one result, the engine's colour mode worked out from the
// file alone, with the success line and nothing else.
TEST_F(Tool, ColourModeGivesOneResultInEveryForm) {
    for (const ColourCase& c : kColourCases) {
        SCOPED_TRACE(c.name);
        const Bytes input = ColourFile(c);
        const std::string expected = AsString(PredictColourOutput(input, 150));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        WriteFile(Path("in.bmp"), input);

        const auto single = RunTool({"--colour", Path("in.bmp"), Path("o.bmp"), "150"});
        EXPECT_EQ(single.status, 0) << single.err;
        EXPECT_EQ(single.out + single.err, kSuccessLine);
        EXPECT_EQ(AsString(ReadFile(Path("o.bmp"))), expected);

        const auto pipe = RunTool({"--colour", "-", "-", "150"}, {AsString(input), ""});
        EXPECT_EQ(pipe.status, 0) << pipe.err;
        EXPECT_TRUE(pipe.out == expected);
        EXPECT_EQ(pipe.err, kSuccessLine);

        const auto batch = RunTool({"--colour", "-o", Path("out"), "150", Path("in.bmp")});
        EXPECT_EQ(batch.status, 0) << batch.err;
        EXPECT_EQ(batch.err, "1 converted, 0 failed\n");
        EXPECT_EQ(AsString(ReadFile(Path("out/in.bmp"))), expected);

        WriteFile(Path("here.bmp"), input);
        const auto inPlace = RunTool({"--colour", "-qi", "-l150", Path("here.bmp")});
        EXPECT_EQ(inPlace.status, 0) << inPlace.err;
        EXPECT_EQ(AsString(ReadFile(Path("here.bmp"))), expected);

        const auto dry = RunTool({"--colour", "-n", "-o", Path("dry"), "150", Path("in.bmp")});
        EXPECT_EQ(dry.status, 0) << dry.err;
        EXPECT_EQ(dry.out, "would write '" + Path("dry/in.bmp") + "'\n");
        EXPECT_FALSE(fs::exists(Path("dry")));
    }
}

// An RLE file longer than the most a trailer may be, through a pipe: the
// peek at its start cannot tell where the data ends, so all of it is read.
TEST_F(Tool, ColourModeReadsLongRleDataFromAPipeWhole) {
    constexpr int32_t kWidth = 4096, kHeight = 16500;  // more than 64 MiB of RLE8 data
    Bytes rle;
    rle.reserve(size_t{kHeight} * (kWidth + kWidth / 128 * 2 + 2) + 2);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; x += 128) {
            rle.insert(rle.end(), {0, 128});  // an absolute run of 128 indices
            for (int k = 0; k < 128; ++k) rle.push_back(static_cast<uint8_t>((x + y + k) & 0xFF));
        }
        rle.insert(rle.end(), {0, 0});
    }
    rle.insert(rle.end(), {0, 1});
    bmptest::BmpLayout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.bitCount = 8;
    layout.compression = 1;
    layout.pixels = std::move(rle);
    const Bytes input = bmptest::BuildBmp(layout);
    ASSERT_GT(input.size(), size_t{65} << 20);
    const auto run = RunTool({"-q", "--colour", "-", Path("o.bmp"), "150"}, {AsString(input), ""});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadFile(Path("o.bmp")) == PredictColourOutput(input, 150));
}

// Colour mode's refusals name what the file is, with a way out; contract
// mode's point to --colour where colour mode takes the file. The warnings
// about indices belong to contract mode alone.
TEST_F(Tool, HintsAndWarningsFollowTheMode) {
    bmptest::BmpLayout shortTable;
    shortTable.bitCount = 8;
    shortTable.width = 64;
    shortTable.paletteEntries = 200;
    Bytes indices = bmptest::BuildBmp(shortTable);
    for (size_t k = 14 + 40 + 4 * 200; k < indices.size(); ++k) indices[k] = k % 2 ? 190 : 10;
    indices[54] = 1;  // not grey
    bmptest::BmpLayout narrowMasks;
    narrowMasks.bitCount = 32;
    narrowMasks.compression = 3;
    narrowMasks.masks = {0x3FF00000, 0xFFC00, 0x3FF};
    bmptest::BmpLayout sixteen;
    sixteen.bitCount = 16;
    bmptest::BmpLayout jpeg;
    jpeg.compression = 4;
    struct Case {
        const char* name;
        Bytes file;
        bool colour;
        int status;
        std::vector<std::string> has;
        std::vector<std::string> hasNot = {};
    } cases[] = {
        {"contract, 4-bit",
         ColourFile({"", 4, 0}),
         false,
         1,
         {"4-bit colour-table image; --colour adjusts its colour table"}},
        {"contract, RLE4",
         ColourFile({"", 4, 2}),
         false,
         1,
         {"4-bit with RLE compression (biCompression 2); --colour adjusts its colour table"}},
        {"contract, V5 bit fields",
         ColourFile(kColourCases[7]),
         false,
         1,
         {"32-bit with bit-field masks (biCompression 3); --colour converts it, keeping alpha"}},
        {"colour, masks of 10 bits",
         bmptest::BuildBmp(narrowMasks),
         true,
         1,
         {"Error: Bit fields are supported only where each mask is one whole byte.\n",
          "(biCompression 3); save it as 24-bit (ImageMagick: convert IN -define "
          "bmp:format=bmp3 -alpha off OUT.bmp)"},
         {"--colour"}},
        {"colour, 16-bit",
         bmptest::BuildBmp(sixteen),
         true,
         1,
         {"16-bit pixels; save it as 24-bit"}},
        {"colour, JPEG inside",
         bmptest::BuildBmp(jpeg),
         true,
         1,
         {"Error: The bitmap holds a JPEG image", "holds a JPEG image (biCompression 4); save it"}},
        {"contract, short colour table",
         indices,
         false,
         0,
         {"colours will shift", "indices past the colour table's 200 entries"}},
        {"colour, short colour table",
         indices,
         true,
         0,
         {kSuccessLine},
         {"colours will shift", "indices past"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("x.bmp"), c.file);
        std::vector<std::string> args = {Path("x.bmp"), Path("o.bmp"), "150"};
        if (c.colour) args.insert(args.begin(), "--colour");
        const auto run = RunTool(args);
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string said = run.out + run.err;
        for (const std::string& part : c.has) EXPECT_TRUE(Has(said, part)) << part << "\n" << said;
        for (const std::string& part : c.hasNot) EXPECT_FALSE(Has(said, part)) << said;
        if (c.status == 0) continue;
        // The file is named after the library's line, and a dry run agrees.
        EXPECT_TRUE(Has(run.err, "bmpcontrast: '" + Path("x.bmp") + "' not converted (result "))
            << run.err;
        args = {"-n", "-o", Path("dry"), "150", Path("x.bmp")};
        if (c.colour) args.insert(args.begin(), "--colour");
        const auto dry = RunTool(args);
        EXPECT_EQ(dry.status, 1);
        EXPECT_TRUE(Has(dry.err, c.has.back())) << dry.err;
    }
}

// A file of another format, whatever its name, is named by its signature
// in both forms and both modes; bytes that only look alike are not.
TEST_F(Tool, FilesOfOtherFormatsAreNamed) {
    struct Case {
        std::string lead;
        const char* says;  // nullptr: no format named
    } cases[] = {
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), "a PNG image"},
        {"\xFF\xD8\xFF\xE0\x00\x10JFIF", "a JPEG image"},
        {"GIF87a\x10\x00", "a GIF image"},
        {"GIF89a\x10\x00", "a GIF image"},
        {std::string("II*\0\x08\0\0\0", 8), "a TIFF image"},
        {std::string("MM\0*\0\0\0\x08", 8), "a TIFF image"},
        {std::string("RIFF\x24\0\0\0WEBPVP8 ", 16), "a WebP image"},
        {std::string("qoif\0\0\0\x10", 8), "a QOI image"},
        {std::string("RIFF\x24\0\0\0WAVEfmt ", 16), nullptr},
        {"II*", nullptr},  // too short to hold a TIFF header's fourth byte
        {"GIF8", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says != nullptr ? c.says : c.lead);
        const std::string named = c.lead.size() > 3 ? c.lead + std::string(40, '\0') : c.lead;
        WriteFile(Path("x.bmp"), Bytes(named.begin(), named.end()));
        const std::string library = bmptest::Predict(Bytes(named.begin(), named.end()), 150).err;
        const std::string shown = "'" + Path("x.bmp") + "'";
        const std::string hint = c.says == nullptr ? ""
                                                   : "bmpcontrast: " + shown + ": " + c.says +
                                                         ", not a BMP file; save it as BMP first (";
        const auto single = RunTool({Path("x.bmp"), Path("o.bmp"), "150"});
        EXPECT_EQ(single.status, 1);
        EXPECT_EQ(single.err.rfind(library + hint, 0), 0u) << single.err;
        EXPECT_TRUE(Has(single.err, "bmpcontrast: " + shown + " not converted")) << single.err;
        EXPECT_EQ(Has(single.err, "not a BMP file"), c.says != nullptr) << single.err;
        const auto batch = RunTool({"--colour", "-o", Path("out"), "150", Path("x.bmp")});
        EXPECT_EQ(batch.status, 1);
        EXPECT_EQ(Has(batch.err, shown + ": " + (c.says ? c.says : "a ") + ", not a BMP file"),
                  c.says != nullptr)
            << batch.err;
        EXPECT_EQ(Has(batch.err, "convert IN OUT.bmp, which keeps alpha"), c.says != nullptr)
            << batch.err;
    }
    const auto piped = RunTool({"-", Path("o.bmp"), "150"}, {"\xFF\xD8\xFF\xE0 and so on", ""});
    EXPECT_TRUE(Has(piped.err, "'standard input': a JPEG image, not a BMP file")) << piped.err;
}

std::string Sh(const std::string& command) { return bmptest::peers::Shell(command + " 2>&1"); }

// What ImageMagick writes by default for a picture with alpha (a V5 header
// with bit fields) is refused in contract mode with a command that makes a
// file it reads, and converts in colour mode, alpha kept; so does a PNG
// named .bmp, through the command colour mode's hint gives.
TEST_F(Tool, ImageMagickFilesWithAlphaHaveAWayThrough) {
    REQUIRE_PEER(bmptest::peers::kImageMagick);
    const std::string png = Path("alpha.png"), bmp = Path("alpha.bmp");
    Sh("convert -size 24x10 gradient:red-blue -alpha set -channel A -evaluate set 40% +channel " +
       png);
    Sh("convert " + png + " " + bmp);
    const Bytes written = ReadFile(bmp);
    ASSERT_GT(written.size(), 54u);
    ASSERT_EQ(bmptest::GetLE(written, 30, 4), 3u) << "not bit fields: ImageMagick changed";

    auto command = [](const std::string& err) {
        std::smatch m;
        const std::regex hinted(R"(\(ImageMagick: (convert [^)]*?)(, which keeps alpha)?\))");
        return std::regex_search(err, m, hinted) ? m[1].str() : std::string();
    };
    auto fill = [](std::string line, const std::string& in, const std::string& out) {
        line.replace(line.find(" IN "), 4, " " + in + " ");
        line.replace(line.find(" OUT.bmp"), 8, " " + out);
        return line;
    };
    const auto refused = RunTool({bmp, Path("o.bmp"), "150"});
    EXPECT_EQ(refused.status, 1);
    const std::string plain = command(refused.err);
    ASSERT_FALSE(plain.empty()) << refused.err;
    Sh(fill(plain, bmp, Path("plain.bmp")));
    const auto converted = RunTool({"-q", Path("plain.bmp"), Path("o.bmp"), "150"});
    EXPECT_EQ(converted.status, 0) << converted.err;

    const auto colour = RunTool({"-q", "--colour", bmp, Path("c.bmp"), "150"});
    EXPECT_EQ(colour.status, 0) << colour.err;
    EXPECT_TRUE(ReadFile(Path("c.bmp")) == PredictColourOutput(written, 150));

    fs::copy_file(png, Path("renamed.bmp"));
    const auto named = RunTool({"--colour", Path("renamed.bmp"), Path("o.bmp"), "150"});
    const std::string keeps = command(named.err);
    ASSERT_FALSE(keeps.empty()) << named.err;
    Sh(fill(keeps, Path("renamed.bmp"), Path("saved.bmp")));
    const auto saved = RunTool({"-q", "--colour", Path("saved.bmp"), Path("o.bmp"), "150"});
    EXPECT_EQ(saved.status, 0) << saved.err;
}

}  // namespace
