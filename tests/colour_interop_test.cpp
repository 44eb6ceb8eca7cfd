// Colour mode checked by decoders, not by itself: bitmaps with colour
// tables, RLE data, alpha and bit fields, as the five peers write them and
// as the builder writes the layouts none of them does (RLE4, 1-bit colour,
// bit fields with alpha in several byte orders), go through the engine in
// colour mode. Every installed peer then decodes input and outputs: each
// output opens in every decoder that opened its input, and every pixel's
// red, green and blue are the curve of the input's as that decoder saw
// them, its alpha the same. Missing peers are skipped as in the
// interoperability suite; Windows builds skip it all.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bmpcontrast.h"
#include "call_harness.h"
#include "engine_run.h"
#include "messages.h"
#include "peer_tools.h"
#include "platform.h"

namespace fs = std::filesystem;
using bmptest::Bytes;
using bmptest::GetLE;

namespace {

using namespace bmptest::peers;

// What a case is about, as the headers must show it.
enum class Kind { Table1, Table4, Table8, Rle8, Rle4, Rgb24, Rgb32, BitFields32 };

struct Shape {
    uint16_t bits;
    uint32_t compression;  // 3 also stands for 6
};

Shape ShapeOf(Kind kind) {
    switch (kind) {
        case Kind::Table1:
            return {1, 0};
        case Kind::Table4:
            return {4, 0};
        case Kind::Table8:
            return {8, 0};
        case Kind::Rle8:
            return {8, 1};
        case Kind::Rle4:
            return {4, 2};
        case Kind::Rgb24:
            return {24, 0};
        case Kind::Rgb32:
            return {32, 0};
        case Kind::BitFields32:
            return {32, 3};
    }
    return {};
}

struct Case {
    Peer encoder;  // kNoPeer: the builder
    std::string name;
    std::string command;  // for an encoder, as in Command
    std::string source;
    Kind kind;
};

std::vector<Case> EncoderCases() {
    const std::string pil = Python() + " -c \"from PIL import Image; ";
    const std::string pbm = "ppmtopgm {src} | pgmtopbm -threshold | ppmtobmp";
    return {
        {kImageMagick, "im-1", "convert {src} -monochrome BMP3:{out}", "rgb.ppm", Kind::Table1},
        {kImageMagick, "im-v4-1", "convert {src} -monochrome BMP:{out}", "rgb.ppm", Kind::Table1},
        {kImageMagick, "im-4", "convert {src} -colors 16 -type Palette -compress None BMP3:{out}",
         "few16.ppm", Kind::Table4},
        {kImageMagick, "im-8", "convert {src} -type Palette -compress None BMP3:{out}", "few.ppm",
         Kind::Table8},
        {kImageMagick, "im-v5-8", "convert {src} -type Palette -compress None BMP:{out}", "few.ppm",
         Kind::Table8},
        {kImageMagick, "im-core-8", "convert {src} -type Palette BMP2:{out}", "few.ppm",
         Kind::Table8},
        {kImageMagick, "im-rle8", "convert {src} -type Palette -compress RLE BMP3:{out}", "few.ppm",
         Kind::Rle8},
        {kImageMagick, "im-v5-rle8", "convert {src} -type Palette -compress RLE BMP:{out}",
         "few.ppm", Kind::Rle8},
        {kImageMagick, "im-24", "convert {src} BMP3:{out}", "rgb.ppm", Kind::Rgb24},
        {kImageMagick, "im-32", "convert {src} -define bmp3:alpha=true BMP3:{out}", "alpha.pam",
         Kind::Rgb32},
        {kImageMagick, "im-bitfields", "convert {src} BMP:{out}", "alpha.pam", Kind::BitFields32},
        {kGraphicsMagick, "gm-1", "gm convert {src} -monochrome BMP3:{out}", "rgb.ppm",
         Kind::Table1},
        {kGraphicsMagick, "gm-4",
         "gm convert {src} -colors 16 -type Palette -compress None BMP3:{out}", "few16.ppm",
         Kind::Table4},
        {kGraphicsMagick, "gm-8", "gm convert {src} -type Palette -compress None BMP3:{out}",
         "few.ppm", Kind::Table8},
        {kGraphicsMagick, "gm-core-8", "gm convert {src} -type Palette BMP2:{out}", "few.ppm",
         Kind::Table8},
        {kGraphicsMagick, "gm-rle8", "gm convert {src} -type Palette -compress RLE BMP3:{out}",
         "few.ppm", Kind::Rle8},
        {kGraphicsMagick, "gm-rle8-default", "gm convert {src} -type Palette BMP:{out}", "few.ppm",
         Kind::Rle8},
        {kGraphicsMagick, "gm-24", "gm convert {src} BMP3:{out}", "rgb.ppm", Kind::Rgb24},
        {kGraphicsMagick, "gm-bitfields", "gm convert {src} BMP:{out}", "alpha.pam",
         Kind::BitFields32},
        {kFfmpeg, "ff-1", "ffmpeg -v error -y -i {src} -pix_fmt monob {out}", "rgb.ppm",
         Kind::Table1},
        {kFfmpeg, "ff-8", "ffmpeg -v error -y -i {src} -pix_fmt pal8 {out}", "few.ppm",
         Kind::Table8},
        {kFfmpeg, "ff-grey", "ffmpeg -v error -y -i {src} -pix_fmt gray {out}", "grey.pgm",
         Kind::Table8},
        {kFfmpeg, "ff-rgb8", "ffmpeg -v error -y -i {src} -pix_fmt rgb4_byte {out}", "rgb.ppm",
         Kind::Table8},
        {kFfmpeg, "ff-24", "ffmpeg -v error -y -i {src} -pix_fmt bgr24 {out}", "rgb.ppm",
         Kind::Rgb24},
        {kFfmpeg, "ff-32", "ffmpeg -v error -y -i {src} -pix_fmt bgra {out}", "alpha.pam",
         Kind::Rgb32},
        {kNetpbm, "nb-1", pbm + " >{out}", "rgb.ppm", Kind::Table1},
        {kNetpbm, "nb-core-1", pbm + " -os2 >{out}", "rgb.ppm", Kind::Table1},
        {kNetpbm, "nb-4", "ppmtobmp -bpp=4 {src} >{out}", "few16.ppm", Kind::Table4},
        {kNetpbm, "nb-core-4", "ppmtobmp -os2 -bpp=4 {src} >{out}", "few16.ppm", Kind::Table4},
        {kNetpbm, "nb-8", "ppmtobmp {src} >{out}", "few.ppm", Kind::Table8},
        {kNetpbm, "nb-core-8", "ppmtobmp -os2 {src} >{out}", "few.ppm", Kind::Table8},
        {kNetpbm, "nb-24", "ppmtobmp -bpp=24 {src} >{out}", "rgb.ppm", Kind::Rgb24},
        {kPillow, "pil-1", pil + "Image.open('{src}').convert('1').save('{out}')\"", "rgb.ppm",
         Kind::Table1},
        {kPillow, "pil-8", pil + "Image.open('{src}').quantize(40).save('{out}')\"", "few.ppm",
         Kind::Table8},
        {kPillow, "pil-grey", pil + "Image.open('{src}').save('{out}')\"", "grey.pgm",
         Kind::Table8},
        {kPillow, "pil-24", pil + "Image.open('{src}').save('{out}')\"", "rgb.ppm", Kind::Rgb24},
        {kPillow, "pil-32",
         pil + "i = Image.open('{src}').convert('RGBA'); "
               "i.putalpha(Image.open('grey.pgm')); i.save('{out}')\"",
         "rgb.ppm", Kind::Rgb32},
    };
}

// ----------------------------------------------------------- built here

constexpr uint32_t kR = 0x00FF0000, kG = 0x0000FF00, kB = 0x000000FF, kA = 0xFF000000;

// Uncompressed rows of indices below `colours`, the first pixel in the top
// bits of a byte, pad bytes zero.
Bytes Indices(int32_t width, int32_t height, uint16_t bits, uint32_t colours, std::mt19937& rng) {
    const uint32_t stride = bmptest::Stride(width, bits);
    Bytes pixels(size_t{stride} * static_cast<size_t>(height), 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const auto bit = static_cast<size_t>(x) * bits;
            const auto index = static_cast<uint8_t>(rng() % colours);
            pixels[size_t{stride} * static_cast<size_t>(y) + bit / 8] |=
                static_cast<uint8_t>(index << (8 - bits - bit % 8));
        }
    }
    return pixels;
}

std::vector<std::pair<Case, Bytes>> BuiltCases() {
    std::mt19937 rng(24);
    auto next = [&] { return static_cast<uint32_t>(rng()); };
    auto indexed = [&](uint16_t bits, uint32_t colours, uint32_t infoSize) {
        return bmptest::BuildBmp({.width = 13,
                                  .height = 7,
                                  .bitCount = bits,
                                  .infoSize = infoSize,
                                  .paletteEntries = static_cast<int32_t>(colours),
                                  .pixels = Indices(13, 7, bits, colours, rng)});
    };
    auto rle = [&](uint16_t bits, uint32_t colours, uint32_t infoSize) {
        return bmptest::BuildBmp({.width = 21,
                                  .height = 9,
                                  .bitCount = bits,
                                  .compression = bits == 8 ? 1u : 2u,
                                  .infoSize = infoSize,
                                  .paletteEntries = static_cast<int32_t>(colours),
                                  .pixels = bmptest::RleData(21, 9, bits, colours, next())});
    };
    // Random colours and alpha (no decoder takes these for "no alpha").
    auto fields = [&](uint32_t infoSize, uint32_t compression, std::vector<uint32_t> masks,
                      int32_t height = 7) {
        return bmptest::BuildBmp({.width = 13,
                                  .height = height,
                                  .bitCount = 32,
                                  .compression = compression,
                                  .infoSize = infoSize,
                                  .seed = next(),
                                  .masks = std::move(masks)});
    };
    auto built = [](const char* name, Kind kind, Bytes bytes) {
        return std::pair<Case, Bytes>{{kNoPeer, name, "", "", kind}, std::move(bytes)};
    };
    return {
        built("own-1-colour", Kind::Table1, indexed(1, 2, 40)),
        built("own-4-short-table", Kind::Table4, indexed(4, 6, 40)),
        built("own-core-4", Kind::Table4, indexed(4, 16, 12)),
        built("own-rle4", Kind::Rle4, rle(4, 16, 40)),
        built("own-rle4-v5-short-table", Kind::Rle4, rle(4, 7, 124)),
        built("own-rle8-short-table", Kind::Rle8, rle(8, 30, 40)),
        built("own-bgra-v5", Kind::BitFields32, fields(124, 3, {kR, kG, kB, kA})),
        built("own-bgra-v5-topdown", Kind::BitFields32, fields(124, 3, {kR, kG, kB, kA}, -7)),
        built("own-rgba-v4", Kind::BitFields32, fields(108, 3, {kB, kG, kR, kA})),
        built("own-abgr-v4", Kind::BitFields32, fields(108, 3, {kA, kR, kG, kB})),
        built("own-bgra-v3", Kind::BitFields32, fields(56, 3, {kR, kG, kB, kA})),
        built("own-bgrx-40", Kind::BitFields32, fields(40, 3, {kR, kG, kB})),
    };
}

// ------------------------------------------------------------- checking

constexpr int32_t kLevels[] = {50, 150};

Bytes ConvertColour(const Bytes& input, int32_t level, std::string& lines) {
    bmpc::MemorySource source(input.data(), input.size());
    bmptest::BytesSink sink;
    std::vector<uint8_t> buffer(bmpc::kMinChunkBytes);
    const bmpc::StreamResult r = bmptest::ConvertStream(source, sink, level, buffer.data(),
                                                        buffer.size(), nullptr, bmpc::Mode::Colour);
    for (const bmpc::Line& line : r.lines) lines += line.text;
    return r.result == Success ? sink.bytes : Bytes{};
}

// Pixels where the output is not the curve of the input, as one decoder
// saw both; the first of them in `first`.
size_t Mismatches(const Decoded& in, const Decoded& out, int32_t level, std::string& first) {
    if (in.pixels.size() != out.pixels.size()) {
        first =
            std::to_string(out.pixels.size()) + " pixels, not " + std::to_string(in.pixels.size());
        return in.pixels.size() + 1;
    }
    size_t n = 0;
    for (size_t i = 0; i < in.pixels.size(); ++i) {
        const Rgba& a = in.pixels[i];
        const Rgba want = {bmptest::ExpectedByte(a[0], level), bmptest::ExpectedByte(a[1], level),
                           bmptest::ExpectedByte(a[2], level), a[3]};
        if (out.pixels[i] == want) continue;
        if (n++ == 0) {
            const Rgba& b = out.pixels[i];
            first = "pixel " + std::to_string(i) + ": " + std::to_string(b[0]) + "," +
                    std::to_string(b[1]) + "," + std::to_string(b[2]) + "," + std::to_string(b[3]) +
                    " for " + std::to_string(a[0]) + "," + std::to_string(a[1]) + "," +
                    std::to_string(a[2]) + "," + std::to_string(a[3]);
        }
    }
    return n;
}

// Cells a decoder cannot read through no fault of the file.
const char* KnownQuirk(Peer decoder, const std::string& name) {
    if (decoder == kNetpbm && name == "own-abgr-v4") {
        return "netpbm takes red, green and blue one byte too high where red is the top byte";
    }
    return nullptr;
}

constexpr char kNoShellPeers[] =
    "the peers are host programs run through a POSIX shell, which a Windows build cannot start";

class ColourInterop : public bmptest::ScratchTest {};

TEST_F(ColourInterop, DecodersSeeTheCurveOnColoursAndAlphaUnchanged) {
    BMPTEST_SKIP_ON_WINDOWS(kNoShellPeers);
    for (const Decoder& d : kDecoders) {
        if (Installed(d.peer)) continue;
        if (PeersRequired()) FAIL() << kPeerNames[d.peer] << " is required here";
        std::printf("note: %s is not installed: not used as an encoder or a decoder\n",
                    kPeerNames[d.peer]);
    }
    WriteSources(scratch_.path());
    std::mt19937 random(4);
    WriteNetpbm(Path("few16.ppm"), "P6", 13, 7, 3, random, 12);

    std::vector<std::pair<Case, Bytes>> cases;
    std::vector<Command> commands;
    for (const Case& c : EncoderCases()) {
        if (!Installed(c.encoder)) continue;
        commands.push_back({c.name, c.command, c.source});
        cases.push_back({c, {}});
    }
    Encode(scratch_.path(), commands);
    for (auto& [c, bytes] : cases) {
        const fs::path in = Path(c.name + ".bmp");
        ASSERT_TRUE(fs::exists(in)) << c.name << ": the encoder wrote nothing";
        bytes = bmptest::ReadFile(in.string());
    }
    for (auto& built : BuiltCases()) {
        Put(built.first.name + ".bmp", built.second);
        cases.push_back(std::move(built));
    }

    // Every input is what its case is about, and converts as the builder
    // reads the file.
    std::vector<fs::path> decodeList;
    for (const auto& [c, input] : cases) {
        const bool core = GetLE(input, 14, 4) == 12;
        const Shape shape = ShapeOf(c.kind);
        ASSERT_EQ(GetLE(input, core ? 24 : 28, 2), shape.bits) << c.name;
        const uint32_t compression = core ? 0 : GetLE(input, 30, 4);
        ASSERT_EQ(compression == 6 ? 3 : compression, shape.compression) << c.name;
        decodeList.push_back(Path(c.name + ".bmp"));
        for (const int32_t level : kLevels) {
            std::string lines;
            const Bytes output = ConvertColour(input, level, lines);
            ASSERT_EQ(lines, bmpc::msg::kSuccess) << c.name << " at " << level;
            EXPECT_TRUE(output == bmptest::PredictColourOutput(input, level))
                << c.name << " at " << level;
            decodeList.push_back(Put(c.name + "-" + std::to_string(level) + ".bmp", output));
        }
    }

    DecodeAll(scratch_.path(), decodeList);
    // Which encoders' files of each kind the decoders confirmed.
    std::map<Kind, std::set<Peer>> confirmed;
    for (const auto& [c, input] : cases) {
        size_t readers = 0;
        for (const Decoder& d : kDecoders) {
            if (!Installed(d.peer)) continue;
            const Decoded in = ReadDecoded(Path(c.name + ".bmp" + d.suffix));
            if (!in.ok) {
                std::printf("note: %s does not read %s\n", kPeerNames[d.peer], c.name.c_str());
                continue;
            }
            ++readers;
            if (const char* quirk = KnownQuirk(d.peer, c.name)) {
                std::printf("note: %s not checked with %s: %s\n", c.name.c_str(),
                            kPeerNames[d.peer], quirk);
                continue;
            }
            for (const int32_t level : kLevels) {
                const std::string file = c.name + "-" + std::to_string(level) + ".bmp";
                const Decoded out = ReadDecoded(Path(file + d.suffix));
                EXPECT_TRUE(out.ok)
                    << kPeerNames[d.peer] << " read " << c.name << " but not " << file;
                if (!out.ok) continue;
                std::string first;
                EXPECT_EQ(Mismatches(in, out, level, first), 0u)
                    << kPeerNames[d.peer] << " decoding " << file << ": " << first;
            }
        }
        // No installed decoder reads alpha bit fields (compression 6), so
        // none are here; the engine's own tests have them.
        EXPECT_GE(readers, c.encoder == kNoPeer ? 1u : 2u) << "too few decoders read " << c.name;
        if (c.encoder != kNoPeer) confirmed[c.kind].insert(c.encoder);
    }
    // Each kind an outside encoder writes, from two of them, where all are
    // installed (RLE4 comes from the builder alone: none writes it).
    bool all = true;
    for (const Decoder& d : kDecoders) all = all && Installed(d.peer);
    if (all) {
        for (const Kind kind : {Kind::Table1, Kind::Table4, Kind::Table8, Kind::Rle8, Kind::Rgb24,
                                Kind::Rgb32, Kind::BitFields32}) {
            EXPECT_GE(confirmed[kind].size(), 2u) << "kind " << static_cast<int>(kind);
        }
    }
}

// 16-bit files as the peers write them: refused in colour mode with the
// line that says so, as the exported call refuses them with its own.
TEST_F(ColourInterop, SixteenBitFilesAreRefusedWithALineNamingThem) {
    BMPTEST_SKIP_ON_WINDOWS(kNoShellPeers);
    const Case refusals[] = {
        {kImageMagick, "im-16", "convert {src} -define bmp:subtype=RGB565 BMP:{out}", "rgb.ppm",
         Kind::Rgb24},
        {kFfmpeg, "ff-16", "ffmpeg -v error -y -i {src} -pix_fmt rgb555 {out}", "rgb.ppm",
         Kind::Rgb24},
    };
    WriteSources(scratch_.path());
    std::vector<Command> commands;
    for (const Case& r : refusals) {
        if (Installed(r.encoder)) {
            commands.push_back({r.name, r.command, r.source});
        } else if (PeersRequired()) {
            FAIL() << kPeerNames[r.encoder] << " is required here";
        } else {
            std::printf("note: %s is not installed: %s skipped\n", kPeerNames[r.encoder],
                        r.name.c_str());
        }
    }
    Encode(scratch_.path(), commands);
    for (const Command& r : commands) {
        const Bytes input = bmptest::ReadFile(Path(r.name + ".bmp").string());
        ASSERT_EQ(GetLE(input, 28, 2), 16u) << r.name;
        bmpc::MemorySource source(input.data(), input.size());
        bmpc::Description d;
        bmpc::Describe(source, 150, d, bmpc::Mode::Colour);
        EXPECT_EQ(d.result, UnsupportedBitDepth) << r.name;
        EXPECT_STREQ(d.line, bmpc::msg::colour::kDepth16) << r.name;
        EXPECT_EQ(d.layout, bmpc::Layout::Rgb16) << r.name;
    }
}

}  // namespace
