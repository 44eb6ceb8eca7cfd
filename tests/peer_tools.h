// The five independent peers (ImageMagick, GraphicsMagick, ffmpeg, netpbm,
// Pillow) as the interoperability tests run them: whether each is
// installed, pictures they all read, encoding through them and decoding
// with every one of them to raw RGBA. POSIX hosts only: they are programs
// run through a shell.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace bmptest::peers {

enum Peer { kImageMagick, kGraphicsMagick, kFfmpeg, kNetpbm, kPillow, kNoPeer };
inline constexpr const char* kPeerNames[] = {"ImageMagick", "GraphicsMagick", "ffmpeg", "netpbm",
                                             "Pillow"};

// Standard output of a shell command.
std::string Shell(const std::string& command);

// The interpreter that has Pillow: Debian's, or one first on PATH; empty
// where none has it.
const std::string& Python();

bool Installed(Peer peer);  // kNoPeer: always

// Set in CI: a missing peer fails instead of skipping.
bool PeersRequired();

// A missing peer skips the test with a message, or fails it where peers
// are required.
#define REQUIRE_PEER(peer)                                                         \
    do {                                                                           \
        if (!bmptest::peers::Installed(peer)) {                                    \
            if (bmptest::peers::PeersRequired()) {                                 \
                FAIL() << bmptest::peers::kPeerNames[peer] << " is required here"; \
            }                                                                      \
            GTEST_SKIP() << bmptest::peers::kPeerNames[peer]                       \
                         << " is not installed: its cases "                        \
                            "skipped";                                             \
        }                                                                          \
    } while (0)

// An RGB profile for the variants that embed one; empty where there is none.
std::string IccProfile();

// A binary PPM (P6), PGM (P5) or, with 4 channels, a PAM with alpha, of
// pseudo-random pixels; with `colours`, drawn from that many colours.
void WriteNetpbm(const std::filesystem::path& path, const char* magic, int width, int height,
                 int channels, std::mt19937& random, int colours = 0);

// Pictures every encoder reads: rgb.ppm, alpha.pam, few.ppm (40 colours),
// grey.pgm (13x7), w1.ppm to w7.ppm (rows of every pad) and w1x1.ppm.
void WriteSources(const std::filesystem::path& dir);

// One encoder run: `command` with {src} and {out} replaced by `source` and
// NAME.bmp, in the directory given to Encode.
struct Command {
    std::string name;
    std::string command;
    std::string source;
};

// Runs every command in one shell.
void Encode(const std::filesystem::path& dir, const std::vector<Command>& commands);

using Rgba = std::array<uint8_t, 4>;

struct Decoded {
    bool ok = false;
    std::vector<Rgba> pixels;  // top row first
};

// Raw RGBA, or a binary PPM, PGM or PBM (netpbm), as RGBA.
Decoded ReadDecoded(const std::filesystem::path& path);

struct Decoder {
    Peer peer;
    const char* suffix;  // of the decoded file beside each input
    bool readsAlpha;     // the fourth byte of a 32-bit pixel
};

// Pillow reads a 32-bit BI_RGB pixel as RGB and a padding byte; netpbm has
// no alpha in PPM.
inline constexpr Decoder kDecoders[] = {
    {kImageMagick, ".im.rgba", true}, {kGraphicsMagick, ".gm.rgba", true},
    {kFfmpeg, ".ff.rgba", true},      {kNetpbm, ".pnm", false},
    {kPillow, ".pil.rgba", false},
};

// Decodes every file with every installed decoder, one process per decoder
// where the decoder has a batch mode: FILE + suffix beside each.
void DecodeAll(const std::filesystem::path& dir, const std::vector<std::filesystem::path>& files);

}  // namespace bmptest::peers
