// Interoperability with five independent peers: bitmaps written by
// ImageMagick, GraphicsMagick, ffmpeg, netpbm and Pillow go through the
// library, and every one of the five reads every output back with exactly
// the expected pixels. Peers that are missing are skipped with a message,
// or fail the test where BMPCONTRAST_REQUIRE_PEERS is set (CI). Windows
// builds skip them all: the peers are host programs run through a POSIX shell.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "call_harness.h"
#include "platform.h"

namespace fs = std::filesystem;
using bmptest::Bytes;
using bmptest::GetLE;

namespace {

// ------------------------------------------------------------------ peers

std::string Shell(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> chunk{};
        size_t got = 0;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            output.append(chunk.data(), got);
        pclose(pipe);
    }
    return output;
}

// Pillow is a module of whichever interpreter has it: Debian's, or one
// first on PATH.
std::string FindPillowPython() {
    for (const char* python : {"python3", "/usr/bin/python3"}) {
        const std::string probe = std::string(python) + " -c 'import PIL' 2>/dev/null && echo yes";
        if (Shell(probe) == "yes\n") return python;
    }
    return "";
}

const std::string& Python() {
    static const std::string python = FindPillowPython();
    return python;
}

enum Peer { kImageMagick, kGraphicsMagick, kFfmpeg, kNetpbm, kPillow, kNoPeer };
constexpr const char* kPeerNames[] = {"ImageMagick", "GraphicsMagick", "ffmpeg", "netpbm",
                                      "Pillow"};

bool Installed(Peer peer) {
    static const std::array<bool, 5> installed = [] {
        return std::array<bool, 5>{
            Shell("convert -version 2>/dev/null").find("ImageMagick") != std::string::npos,
            Shell("gm version 2>/dev/null").find("GraphicsMagick") != std::string::npos,
            Shell("ffmpeg -version 2>/dev/null").find("ffmpeg version") != std::string::npos,
            Shell("ppmtobmp --version 2>&1; bmptopnm --version 2>&1").find("Netpbm") !=
                std::string::npos,
            !Python().empty(),
        };
    }();
    return peer == kNoPeer || installed[peer];
}

bool PeersRequired() {
    return std::getenv("BMPCONTRAST_REQUIRE_PEERS") != nullptr ||
           std::getenv("BMPCONTRAST_REQUIRE_IMAGEMAGICK") != nullptr;
}

#define REQUIRE_PEER(peer)                                                              \
    do {                                                                                \
        if (!Installed(peer)) {                                                         \
            if (PeersRequired()) FAIL() << kPeerNames[peer] << " is required here";     \
            GTEST_SKIP() << kPeerNames[peer] << " is not installed: its cases skipped"; \
        }                                                                               \
    } while (0)

// An RGB profile for the variants that embed one.
std::string IccProfile() {
    for (const char* path :
         {"/usr/share/color/icc/sRGB.icc", "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc",
          "/usr/share/color/icc/ghostscript/a98.icc"}) {
        if (fs::exists(path)) return path;
    }
    return "";
}

// ---------------------------------------------------------------- sources

void WriteNetpbm(const fs::path& path, const char* magic, int width, int height, int channels,
                 std::mt19937& random, int colours = 0) {
    std::string header = std::string(magic) + "\n" + std::to_string(width) + " " +
                         std::to_string(height) + "\n255\n";
    if (channels == 4) {
        header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                 "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    }
    Bytes bytes(header.begin(), header.end());
    // A few colours make the encoders choose a colour table.
    std::vector<std::array<uint8_t, 3>> palette(static_cast<size_t>(colours));
    for (auto& entry : palette)
        for (auto& c : entry) c = static_cast<uint8_t>(random());
    for (int i = 0; i < width * height; ++i) {
        if (colours > 0) {
            const auto& entry = palette[random() % palette.size()];
            bytes.insert(bytes.end(), entry.begin(), entry.end());
        } else {
            for (int c = 0; c < channels; ++c) bytes.push_back(static_cast<uint8_t>(random()));
        }
    }
    bmptest::WriteFile(path.string(), bytes);
}

// Pseudo-random pictures every encoder reads: 13x7 RGB, RGB with alpha, few
// colours, grey; rows of every pad (widths 1 to 7) and a single pixel.
void WriteSources(const fs::path& dir) {
    std::mt19937 random(9);
    WriteNetpbm(dir / "rgb.ppm", "P6", 13, 7, 3, random);
    WriteNetpbm(dir / "alpha.pam", "", 13, 7, 4, random);
    WriteNetpbm(dir / "few.ppm", "P6", 13, 7, 3, random, 40);
    WriteNetpbm(dir / "grey.pgm", "P5", 13, 7, 1, random);
    for (int width = 1; width <= 7; ++width)
        WriteNetpbm(dir / ("w" + std::to_string(width) + ".ppm"), "P6", width, 3, 3, random);
    WriteNetpbm(dir / "w1x1.ppm", "P6", 1, 1, 3, random);
}

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

std::string Replace(std::string text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), value), at += value.size();
    return text;
}

// Runs every variant's command in one shell.
void Encode(const fs::path& dir, const std::vector<Variant>& variants) {
    std::string script = "cd '" + dir.string() + "' && (";
    for (const Variant& v : variants) {
        script += Replace(Replace(v.command, "{src}", v.source), "{out}", v.name + ".bmp") +
                  " 2>/dev/null; ";
    }
    Shell(script + ") >/dev/null 2>&1");
}

// ----------------------------------------------------------------- decoding

using Rgba = std::array<uint8_t, 4>;

struct Decoded {
    bool ok = false;
    std::vector<Rgba> pixels;  // top row first
};

// Raw RGBA, or a binary PPM/PGM (netpbm), as RGBA.
Decoded ReadDecoded(const fs::path& path) {
    Decoded d;
    if (!fs::exists(path) || fs::file_size(path) == 0) return d;
    const Bytes bytes = bmptest::ReadFile(path.string());
    if (path.extension() != ".pnm") {
        for (size_t i = 0; i + 3 < bytes.size(); i += 4)
            d.pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]});
        d.ok = !d.pixels.empty();
        return d;
    }
    // P5/P6 with maxval 255: magic, width, height, maxval, one whitespace byte.
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return d;
    size_t at = 2;
    uint32_t fields[3] = {};
    for (uint32_t& field : fields) {
        while (at < bytes.size() && (std::isspace(bytes[at]) != 0 || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            else
                ++at;
        }
        while (at < bytes.size() && std::isdigit(bytes[at]) != 0)
            field = field * 10 + bytes[at++] - '0';
    }
    ++at;
    const size_t channels = bytes[1] == '6' ? 3 : 1;
    if (fields[2] != 255) return d;
    for (size_t i = at; i + channels <= bytes.size(); i += channels) {
        const uint8_t r = bytes[i];
        d.pixels.push_back(channels == 3 ? Rgba{r, bytes[i + 1], bytes[i + 2], 255}
                                         : Rgba{r, r, r, 255});
    }
    d.ok = d.pixels.size() == static_cast<size_t>(fields[0]) * fields[1];
    return d;
}

struct Decoder {
    Peer peer;
    const char* suffix;
    bool readsAlpha;  // the fourth byte of a 32-bit pixel
};

// Pillow reads a 32-bit BI_RGB pixel as RGB and a padding byte; netpbm has
// no alpha in PPM.
constexpr Decoder kDecoders[] = {
    {kImageMagick, ".im.rgba", true}, {kGraphicsMagick, ".gm.rgba", true},
    {kFfmpeg, ".ff.rgba", true},      {kNetpbm, ".pnm", false},
    {kPillow, ".pil.rgba", false},
};

// Decodes every file with every installed decoder, one process per decoder
// where the decoder has a batch mode.
void DecodeAll(const fs::path& dir, const std::vector<fs::path>& files) {
    std::string im, gm, ff, ffOut, pnm, pil;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string s = files[i].string();
        im += " '" + s + "'";
        gm += "convert " + s + " -depth 8 rgba:" + s + ".gm.rgba\n";
        ff += " -i '" + s + "'";
        ffOut += " -map " + std::to_string(i) + " -f rawvideo -pix_fmt rgba '" + s + ".ff.rgba'";
        pnm += "bmptopnm '" + s + "' >'" + s + ".pnm' 2>/dev/null; ";
        pil += " '" + s + "'";
    }
    if (Installed(kImageMagick)) {
        // mogrify writes NAME.rgba beside NAME.bmp; renamed to the suffix.
        Shell("mogrify -depth 8 -format rgba" + im + " >/dev/null 2>&1");
        for (const fs::path& f : files) {
            fs::path raw = f;
            raw.replace_extension(".rgba");
            std::error_code ignored;
            fs::rename(raw, f.string() + ".im.rgba", ignored);
        }
    }
    if (Installed(kGraphicsMagick)) {
        const fs::path script = dir / "decode.gm";
        bmptest::WriteFile(script.string(), Bytes(gm.begin(), gm.end()));
        Shell("gm batch -stop-on-error off -echo off -feedback off '" + script.string() +
              "' >/dev/null 2>&1");
    }
    if (Installed(kFfmpeg))
        Shell("ffmpeg -v quiet -y" + ff + ffOut + " </dev/null >/dev/null 2>&1");
    if (Installed(kNetpbm)) Shell("(" + pnm + ") >/dev/null 2>&1");
    if (Installed(kPillow)) {
        Shell(Python() +
              " -c \"import sys\nfrom PIL import Image\nfor p in sys.argv[1:]:\n"
              "  try: open(p + '.pil.rgba', 'wb').write(Image.open(p).convert('RGBA').tobytes())\n"
              "  except Exception: pass\" " +
              pil + " >/dev/null 2>&1");
    }
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
        Encode(scratch_.path(), variants);
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
    std::vector<Variant> commands;
    for (const Refusal& r : refusals) {
        if (!Installed(r.encoder)) {
            if (PeersRequired()) FAIL() << kPeerNames[r.encoder] << " is required here";
            std::printf("note: %s is not installed: %s skipped\n", kPeerNames[r.encoder],
                        r.name.c_str());
            continue;
        }
        commands.push_back({r.name, r.command, r.source, 0, 0});
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
