// Interoperability with five independent peers: bitmaps written by
// ImageMagick, GraphicsMagick, ffmpeg, netpbm and Pillow go through the
// library, and every one of the five reads every output back with exactly
// the expected pixels. Peers that are missing are skipped with a message,
// or fail the test where BMPCONTRAST_REQUIRE_PEERS is set (CI). Windows
// builds skip them all: the peers are host programs run through a POSIX shell.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "call_harness.h"
#include "peer_tools.h"
#include "platform.h"

namespace fs = std::filesystem;
using bmptest::Bytes;
using bmptest::GetLE;

namespace {

using namespace bmptest::peers;

// --------------------------------------------------------------- variants

struct Variant {
    std::string name;     // also the file name
    std::string command;  // {src} and {out} are replaced; run in the scratch directory
    std::string source;
    uint16_t bits;
    uint32_t infoSize;
    bool trailer = false;  // bytes follow the pixel data (a profile)
};

std::vector<Variant> WithWidths(std::vector<Variant> variants, const std::string& command) {
    for (int width = 1; width <= 7; ++width) {
        variants.push_back(
            {"w" + std::to_string(width), command, "w" + std::to_string(width) + ".ppm", 24, 40});
    }
    variants.push_back({"w1x1", command, "w1x1.ppm", 24, 40});
    return variants;
}

const std::string kPillowSave = "from PIL import Image; import sys; ";

std::vector<Variant> Variants(Peer peer) {
    const std::string icc = IccProfile();
    switch (peer) {
        case kImageMagick:
            return WithWidths(
                {
                    {"bmp3-24", "convert {src} BMP3:{out}", "rgb.ppm", 24, 40},
                    {"v5-24", "convert {src} BMP:{out}", "rgb.ppm", 24, 124},
                    {"v5-icc", "convert {src} -profile " + icc + " BMP:{out}", "rgb.ppm", 24, 124,
                     true},
                    {"bmp3-icc", "convert {src} -profile " + icc + " BMP3:{out}", "rgb.ppm", 24, 40,
                     true},
                    {"bmp3-palette", "convert {src} -type Palette -compress None BMP3:{out}",
                     "few.ppm", 8, 40},
                    {"v5-palette", "convert {src} -type Palette -compress None BMP:{out}",
                     "few.ppm", 8, 124},
                    {"bmp3-grey", "convert {src} -type Palette -compress None BMP3:{out}",
                     "grey.pgm", 8, 40},
                    {"bmp3-alpha", "convert {src} -define bmp3:alpha=true BMP3:{out}", "alpha.pam",
                     32, 40},
                    {"core-24", "convert {src} BMP2:{out}", "rgb.ppm", 24, 12},
                    {"core-8", "convert {src} -type Palette BMP2:{out}", "few.ppm", 8, 12},
                },
                "convert {src} BMP3:{out}");
        case kGraphicsMagick:
            return WithWidths(
                {
                    {"bmp3-24", "gm convert {src} BMP3:{out}", "rgb.ppm", 24, 40},
                    {"bmp-24", "gm convert {src} BMP:{out}", "rgb.ppm", 24, 40},
                    {"bmp3-palette", "gm convert {src} -type Palette -compress None BMP3:{out}",
                     "few.ppm", 8, 40},
                    {"core-24", "gm convert {src} BMP2:{out}", "rgb.ppm", 24, 12},
                    {"core-8", "gm convert {src} -type Palette BMP2:{out}", "few.ppm", 8, 12},
                },
                "gm convert {src} BMP3:{out}");
        case kFfmpeg:
            return WithWidths(
                {
                    {"bgr24", "ffmpeg -v error -y -i {src} -pix_fmt bgr24 {out}", "rgb.ppm", 24,
                     40},
                    {"bgra", "ffmpeg -v error -y -i {src} -pix_fmt bgra {out}", "alpha.pam", 32,
                     40},
                    {"pal8", "ffmpeg -v error -y -i {src} -pix_fmt pal8 {out}", "few.ppm", 8, 40},
                    {"grey", "ffmpeg -v error -y -i {src} -pix_fmt gray {out}", "grey.pgm", 8, 40},
                },
                "ffmpeg -v error -y -i {src} -pix_fmt bgr24 {out}");
        case kNetpbm:
            return WithWidths(
                {
                    {"24", "ppmtobmp -bpp=24 {src} >{out}", "rgb.ppm", 24, 40},
                    {"palette", "ppmtobmp {src} >{out}", "few.ppm", 8, 40},
                    {"grey", "ppmtobmp {src} >{out}", "grey.pgm", 8, 40},
                    {"os2-24", "ppmtobmp -os2 -bpp=24 {src} >{out}", "rgb.ppm", 24, 12},
                    {"os2-8", "ppmtobmp -os2 {src} >{out}", "few.ppm", 8, 12},
                },
                "ppmtobmp -bpp=24 {src} >{out}");
        case kPillow: {
            const std::string save = Python() + " -c \"" + kPillowSave;
            return WithWidths(
                {
                    {"rgb", save + "Image.open('{src}').save('{out}')\"", "rgb.ppm", 24, 40},
                    {"rgba",
                     save + "i = Image.open('{src}').convert('RGBA'); "
                            "i.putalpha(Image.open('grey.pgm')); i.save('{out}')\"",
                     "rgb.ppm", 32, 40},
                    {"palette", save + "Image.open('{src}').quantize(256).save('{out}')\"",
                     "few.ppm", 8, 40},
                    {"grey", save + "Image.open('{src}').save('{out}')\"", "grey.pgm", 8, 40},
                },
                save + "Image.open('{src}').save('{out}')\"");
        }
        case kNoPeer:
            break;
    }
    return {};
}

// What a decoder should show for `file` after the curve at `level`, top row
// first, from the file's own bytes: 8-bit pixels are the unchanged palette
// looked up at the curved index.
std::vector<Rgba> ExpectedPixels(const Bytes& file, int32_t level, bool readsAlpha) {
    const bool core = GetLE(file, 14, 4) == 12;
    const auto offBits = GetLE(file, 10, 4);
    const auto width = static_cast<int32_t>(core ? GetLE(file, 18, 2) : GetLE(file, 18, 4));
    const auto height = static_cast<int32_t>(core ? GetLE(file, 20, 2) : GetLE(file, 22, 4));
    const auto bits = static_cast<uint16_t>(core ? GetLE(file, 24, 2) : GetLE(file, 28, 2));
    const size_t paletteAt = 14 + GetLE(file, 14, 4);
    const size_t entrySize = core ? 3 : 4;
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
                const uint8_t* entry = file.data() + paletteAt + entrySize * curve(p[0]);
                pixels.push_back({entry[2], entry[1], entry[0], 255});
            } else {
                pixels.push_back({curve(p[2]), curve(p[1]), curve(p[0]),
                                  bits == 32 && readsAlpha ? curve(p[3]) : uint8_t{255}});
            }
        }
    }
    return pixels;
}

size_t Mismatches(const std::vector<Rgba>& got, const std::vector<Rgba>& want) {
    if (got.size() != want.size()) return want.size() + 1;
    size_t n = 0;
    for (size_t i = 0; i < want.size(); ++i) n += got[i] != want[i];
    return n;
}

// Where the pixel data of a complete file ends.
uint64_t PixelsEnd(const Bytes& file) {
    const bool core = GetLE(file, 14, 4) == 12;
    const auto width = static_cast<int32_t>(core ? GetLE(file, 18, 2) : GetLE(file, 18, 4));
    const auto height = static_cast<int32_t>(core ? GetLE(file, 20, 2) : GetLE(file, 22, 4));
    const auto bits = static_cast<uint16_t>(core ? GetLE(file, 24, 2) : GetLE(file, 28, 2));
    const auto rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
    return GetLE(file, 10, 4) + uint64_t{bmptest::Stride(width, bits)} * rows;
}

// Cells a decoder cannot read through no fault of the file.
const char* KnownQuirk(Peer decoder, const Bytes& file) {
    const bool core = GetLE(file, 14, 4) == 12;
    const uint32_t width = core ? GetLE(file, 18, 2) : GetLE(file, 18, 4);
    const uint32_t height = core ? GetLE(file, 20, 2) : GetLE(file, 22, 4);
    if (decoder == kGraphicsMagick && width == 1 && height == 1) {
        return "GraphicsMagick refuses every 1x1 BMP, its own too";
    }
    return nullptr;
}

// ------------------------------------------------------------------- tests

constexpr int32_t kLevels[] = {50, 150, 12701};

constexpr char kNoShellPeers[] =
    "the peers are host programs run through a POSIX shell, which a Windows build cannot start";

class PeerInterop : public bmptest::ScratchTest, public testing::WithParamInterface<Peer> {};

// Every variant the encoder writes converts at every level; level 100 gives
// the file back byte for byte; every installed decoder reads the input and
// every output with the expected pixels.
TEST_P(PeerInterop, EveryVariantConvertsAndEveryDecoderReadsTheOutput) {
    BMPTEST_SKIP_ON_WINDOWS(kNoShellPeers);
    const Peer encoder = GetParam();
    REQUIRE_PEER(encoder);
    for (const Decoder& d : kDecoders) {
        if (Installed(d.peer)) continue;
        if (PeersRequired()) FAIL() << kPeerNames[d.peer] << " is required here";
        std::printf("note: %s is not installed: not used as a decoder\n", kPeerNames[d.peer]);
    }
    if (encoder == kImageMagick) {
        ASSERT_FALSE(IccProfile().empty()) << "no ICC profile under /usr/share/color/icc";
    }
    WriteSources(scratch_.path());
    std::vector<Variant> variants = Variants(encoder);
    std::map<std::string, Bytes> inputs;
    if (encoder == kNoPeer) {
        // Rows stored top to bottom: no peer here writes them, all must read them.
        const std::pair<const char*, bmptest::BmpLayout> layouts[] = {
            {"topdown-24", {.width = 5, .height = -3}},
            {"topdown-32", {.width = 3, .height = -4, .bitCount = 32}},
            {"topdown-8", {.width = 7, .height = -2, .bitCount = 8}},
        };
        for (const auto& [name, layout] : layouts) {
            Bytes file = bmptest::BuildBmp(layout);
            if (layout.bitCount == 32)  // opaque enough that no decoder guesses "no alpha"
                for (size_t i = 54 + 3; i < file.size(); i += 4) file[i] |= 0x80;
            Put(std::string(name) + ".bmp", file);
            variants.push_back({name, "", "", layout.bitCount, 40});
        }
    } else {
        std::vector<Command> commands;
        for (const Variant& v : variants) commands.push_back({v.name, v.command, v.source});
        Encode(scratch_.path(), commands);
    }

    std::vector<fs::path> decodeList;
    for (const Variant& v : variants) {
        const fs::path in = Path(v.name + ".bmp");
        ASSERT_TRUE(fs::exists(in)) << v.name << ": the encoder wrote nothing";
        const Bytes input = bmptest::ReadFile(in.string());
        // The encoder made what this case is about.
        const bool core = GetLE(input, 14, 4) == 12;
        ASSERT_EQ(GetLE(input, 14, 4), v.infoSize) << v.name;
        ASSERT_EQ(GetLE(input, core ? 24 : 28, 2), v.bits) << v.name;
        if (!core) {
            ASSERT_EQ(GetLE(input, 30, 4), 0u) << v.name;
        }
        ASSERT_EQ(input.size() > PixelsEnd(input), v.trailer) << v.name;
        inputs[v.name] = input;
        decodeList.push_back(in);

        const fs::path same = Path(v.name + "-100.bmp");
        const auto got = bmptest::CallContrast(in, same, 100);
        ASSERT_EQ(got.result, 999) << v.name << ": " << got.err;
        EXPECT_TRUE(bmptest::ReadFile(same.string()) == input)
            << v.name << ": level 100 changed it";
        for (const int32_t level : kLevels) {
            const fs::path out = Path(v.name + "-" + std::to_string(level) + ".bmp");
            const auto outcome = bmptest::CallContrast(in, out, level);
            ASSERT_EQ(outcome.result, 999) << v.name << " at " << level << ": " << outcome.err;
            bmptest::ExpectPredicted(outcome, input, level, out);
            decodeList.push_back(out);
        }
    }

    DecodeAll(scratch_.path(), decodeList);
    for (const Decoder& d : kDecoders) {
        if (!Installed(d.peer)) continue;
        for (const auto& [name, input] : inputs) {
            if (const char* quirk = KnownQuirk(d.peer, input)) {
                std::printf("note: %s not decoded: %s\n", name.c_str(), quirk);
                continue;
            }
            // Level 100 is the input itself: the decoder and this test agree
            // on what the file holds.
            const std::pair<int32_t, std::string> files[] = {
                {100, name + ".bmp"},
                {kLevels[0], name + "-" + std::to_string(kLevels[0]) + ".bmp"},
                {kLevels[1], name + "-" + std::to_string(kLevels[1]) + ".bmp"},
                {kLevels[2], name + "-" + std::to_string(kLevels[2]) + ".bmp"},
            };
            for (const auto& [level, file] : files) {
                const Decoded decoded = ReadDecoded(Path(file + d.suffix));
                EXPECT_TRUE(decoded.ok) << kPeerNames[d.peer] << " could not read " << file;
                if (!decoded.ok) continue;
                EXPECT_EQ(Mismatches(decoded.pixels, ExpectedPixels(input, level, d.readsAlpha)),
                          0u)
                    << kPeerNames[d.peer] << " decoding " << file;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, PeerInterop,
                         testing::Values(kImageMagick, kGraphicsMagick, kFfmpeg, kNetpbm, kPillow,
                                         kNoPeer),
                         [](const auto& param) {
                             return param.param == kNoPeer ? std::string("OwnTopDown")
                                                           : std::string(kPeerNames[param.param]);
                         });

// Files the library refuses, as the peers write them.
struct Refusal {
    Peer encoder;
    std::string name;
    std::string command;
    std::string source;
    uint16_t bits;
    uint32_t compression;
    int32_t result;
};

class PeerRefusals : public bmptest::ScratchTest {};

TEST_F(PeerRefusals, DepthsAndCompressionsTheLibraryDoesNotRead) {
    BMPTEST_SKIP_ON_WINDOWS(kNoShellPeers);
    const char* depth = "Error: Only 8-bit, 24-bit, and 32-bit bitmaps are supported.\n";
    const char* compressed = "Error: Compressed bitmaps are not supported.\n";
    const std::string pil = Python() + " -c \"" + kPillowSave;
    const Refusal refusals[] = {
        {kImageMagick, "im-1", "convert {src} -monochrome BMP3:{out}", "rgb.ppm", 1, 0, 14444},
        {kImageMagick, "im-4", "convert {src} -colors 16 -type Palette -compress None BMP3:{out}",
         "few.ppm", 4, 0, 14444},
        {kImageMagick, "im-16", "convert {src} -define bmp:subtype=RGB565 BMP:{out}", "rgb.ppm", 16,
         3, 14444},
        {kImageMagick, "im-rle8", "convert {src} -type Palette -compress RLE BMP3:{out}", "few.ppm",
         8, 1, 166},
        {kImageMagick, "im-bitfields", "convert {src} BMP:{out}", "alpha.pam", 32, 3, 166},
        {kGraphicsMagick, "gm-bitfields", "gm convert {src} BMP:{out}", "alpha.pam", 32, 3, 166},
        {kFfmpeg, "ff-16", "ffmpeg -v error -y -i {src} -pix_fmt rgb555 {out}", "rgb.ppm", 16, 0,
         14444},
        {kFfmpeg, "ff-1", "ffmpeg -v error -y -i {src} -pix_fmt monob {out}", "rgb.ppm", 1, 0,
         14444},
        {kNetpbm, "nb-4", "ppmtobmp -bpp=4 {src} >{out}", "few16.ppm", 4, 0, 14444},
        {kPillow, "pil-1", pil + "Image.open('{src}').convert('1').save('{out}')\"", "rgb.ppm", 1,
         0, 14444},
    };
    WriteSources(scratch_.path());
    std::mt19937 random(4);
    WriteNetpbm(Path("few16.ppm"), "P6", 13, 7, 3, random, 12);
    std::vector<Command> commands;
    for (const Refusal& r : refusals) {
        if (!Installed(r.encoder)) {
            if (PeersRequired()) FAIL() << kPeerNames[r.encoder] << " is required here";
            std::printf("note: %s is not installed: %s skipped\n", kPeerNames[r.encoder],
                        r.name.c_str());
            continue;
        }
        commands.push_back({r.name, r.command, r.source});
    }
    Encode(scratch_.path(), commands);
    for (const Refusal& r : refusals) {
        if (!Installed(r.encoder)) continue;
        const fs::path in = Path(r.name + ".bmp");
        ASSERT_TRUE(fs::exists(in)) << r.name << ": the encoder wrote nothing";
        const Bytes input = bmptest::ReadFile(in.string());
        ASSERT_EQ(GetLE(input, 28, 2), r.bits) << r.name;
        ASSERT_EQ(GetLE(input, 30, 4), r.compression) << r.name;
        const fs::path out = Path(r.name + "-out.bmp");
        const auto got = bmptest::CallContrast(in, out, 150);
        EXPECT_EQ(got.result, r.result) << r.name;
        EXPECT_EQ(got.err, r.result == 166 ? compressed : depth) << r.name;
        EXPECT_FALSE(fs::exists(out)) << r.name;
    }
}

}  // namespace
