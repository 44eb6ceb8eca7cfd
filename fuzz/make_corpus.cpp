// Writes the fuzz target's seed corpus into a directory: valid 8-, 24- and
// 32-bit files, bottom-up and top-down, colour tables, V4, V5 and core
// headers, bytes after the pixels, each header boundary, and the damaged
// offsets and fields readers get wrong, and the colour-table, RLE and
// bit-field files colour mode reads. Each file is one selector byte (see
// contrast_fuzz.cpp) and a bitmap.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_builder.h"

namespace fs = std::filesystem;
using bmptest::BmpLayout;
using bmptest::Bytes;

namespace {

// Selector bytes: low bits index the fuzz target's level table, the top bit
// makes an output file exist before the call, bit 6 writes to /dev/full.
constexpr uint8_t kLevel150 = 0x00;
constexpr uint8_t kLevel100 = 0x01;
constexpr uint8_t kLevel50 = 0x02;
constexpr uint8_t kLevelHuge = 0x0D;
constexpr uint8_t kLevelZero = 0x0B;
constexpr uint8_t kFullDevice = 0x40;
constexpr uint8_t kOutputExists = 0x80;

class Corpus {
  public:
    explicit Corpus(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_); }

    void Add(const std::string& name, uint8_t selector, const Bytes& bitmap) {
        Bytes file(bitmap.size() + 1);
        file[0] = selector;
        std::copy(bitmap.begin(), bitmap.end(), file.begin() + 1);
        bmptest::WriteFile((dir_ / name).string(), file);
        ++count_;
    }
    int count() const { return count_; }

  private:
    fs::path dir_;
    int count_ = 0;
};

BmpLayout Layout(int32_t width, int32_t height, uint16_t bitCount) {
    BmpLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bitCount = bitCount;
    return layout;
}

Bytes With(Bytes bytes, size_t offset, size_t size, uint32_t value) {
    bmptest::PutLE(bytes, offset, size, value);
    return bytes;
}

Bytes Cut(const Bytes& bytes, size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    Corpus corpus(argv[1]);

    // Valid files of every depth and row order, pads of 0 to 3 bytes.
    for (const uint16_t depth : {uint16_t{8}, uint16_t{24}, uint16_t{32}}) {
        for (const int32_t width : {1, 2, 3, 4, 5}) {
            for (const int32_t height : {3, -3}) {
                corpus.Add("valid-" + std::to_string(depth) + "-" + std::to_string(width) + "x" +
                               std::to_string(height),
                           width % 2 == 0 ? kLevel150 : kLevel50 | kOutputExists,
                           bmptest::BuildBmp(Layout(width, height, depth)));
            }
        }
    }
    BmpLayout smallPalette = Layout(7, 2, 8);
    smallPalette.paletteEntries = 2;
    corpus.Add("palette-2", kLevel150, bmptest::BuildBmp(smallPalette));
    BmpLayout v4 = Layout(3, 2, 24);
    v4.infoSize = 108;
    corpus.Add("v4-24", kLevel150, bmptest::BuildBmp(v4));
    BmpLayout v5 = Layout(2, -2, 32);
    v5.infoSize = 124;
    corpus.Add("v5-32-topdown", kLevelHuge, bmptest::BuildBmp(v5));
    BmpLayout v5palette = Layout(5, 2, 8);
    v5palette.infoSize = 124;
    v5palette.paletteEntries = 16;
    corpus.Add("v5-8-palette", kLevel100 | kOutputExists, bmptest::BuildBmp(v5palette));
    // The 12-byte core header, and bytes after the pixel data.
    for (const uint16_t depth : {uint16_t{8}, uint16_t{24}}) {
        BmpLayout core = Layout(3, 2, depth);
        core.infoSize = 12;
        corpus.Add("core-" + std::to_string(depth), kLevel150, bmptest::BuildBmp(core));
        Bytes trailed = bmptest::BuildBmp(core);
        trailed.insert(trailed.end(), 7, 0x5A);
        corpus.Add("core-trailer-" + std::to_string(depth), kLevel100 | kOutputExists, trailed);
    }
    Bytes trailed = bmptest::BuildBmp(v5);
    trailed.insert(trailed.end(), 40, 0xC3);
    corpus.Add("v5-trailer", kLevel50, trailed);
    corpus.Add("full-device", kLevel150 | kFullDevice, bmptest::BuildBmp(Layout(3, 2, 24)));
    corpus.Add("full-device-large", kLevel50 | kFullDevice, bmptest::BuildBmp(Layout(300, 20, 32)));
    corpus.Add("level-zero", kLevelZero | kOutputExists, bmptest::BuildBmp(Layout(2, 2, 24)));

    // Every boundary of the headers, and cuts inside the colour table and pixels.
    const Bytes eight = bmptest::BuildBmp(smallPalette);
    for (const size_t length : {0u, 1u, 2u, 13u, 14u, 17u, 18u, 53u, 54u, 57u, 62u, 63u, 70u}) {
        corpus.Add("cut-" + std::to_string(length), kLevel150 | kOutputExists, Cut(eight, length));
    }

    // Pixel-data offsets: inside the header, negative, exactly at the end, past it.
    const Bytes base = bmptest::BuildBmp(Layout(3, 2, 24));
    for (const int64_t offBits :
         {0, 1, 14, 53, 54, 55, 78, 79, -1, int{INT32_MIN}, int{INT32_MAX}}) {
        corpus.Add("offbits-" + std::to_string(offBits), kLevel150,
                   With(base, 10, 4, static_cast<uint32_t>(offBits)));
    }
    // An 8-bit file whose offset skips the colour table's start.
    corpus.Add("offbits-in-palette", kLevel150, With(eight, 10, 4, 58));

    // Dimensions, depths and compressions the call refuses or must not overflow on.
    const std::pair<const char*, std::pair<uint32_t, uint32_t>> dims[] = {
        {"width-0", {0, 2}},
        {"width-negative", {0xFFFFFFFF, 2}},
        {"height-0", {3, 0}},
        {"height-min", {3, 0x80000000}},
        {"height-min-plus-1", {1, 0x80000001}},
        {"stride-overflow", {0x7FFFFFFF, 1}},
        {"size-overflow", {0x10000, 0x10000}},
        {"size-just-over", {0x20000000, 1}},
        {"tiny-claims-1mib", {512, 512}},
    };
    for (const auto& [name, wh] : dims) {
        corpus.Add(name, kLevel150 | kOutputExists,
                   With(With(base, 18, 4, wh.first), 22, 4, wh.second));
    }
    for (const uint32_t depth : {0u, 1u, 4u, 16u, 48u, 0xFFFFu}) {
        corpus.Add("depth-" + std::to_string(depth), kLevel150 | kOutputExists,
                   With(base, 28, 2, depth));
    }
    for (const uint32_t compression : {1u, 2u, 3u, 6u, 0xFFFFFFFFu}) {
        corpus.Add("compression-" + std::to_string(compression), kLevel150 | kOutputExists,
                   With(base, 30, 4, compression));
    }
    corpus.Add("signature-swapped", kLevel150 | kOutputExists, With(base, 0, 2, 0x424D));

    // What colour mode reads besides: 1- and 4-bit tables, RLE data, masks.
    for (const uint16_t depth : {uint16_t{1}, uint16_t{4}}) {
        corpus.Add("colour-table-" + std::to_string(depth), kLevel150,
                   bmptest::BuildBmp(Layout(9, 3, depth)));
    }
    for (const uint16_t depth : {uint16_t{4}, uint16_t{8}}) {
        BmpLayout rle = Layout(9, 3, depth);
        rle.compression = depth == 8 ? 1 : 2;
        rle.paletteEntries = 12;
        rle.pixels = bmptest::RleData(9, 3, depth, 12, 1);
        corpus.Add("rle-" + std::to_string(depth), kLevel50, bmptest::BuildBmp(rle));
    }
    const std::pair<uint32_t, std::vector<uint32_t>> fields[] = {
        {124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
        {56, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}},
        {40, {0xFF0000, 0xFF00, 0xFF}},
        {108, {0xF800, 0x7E0, 0x1F, 0}},
    };
    for (const auto& [infoSize, masks] : fields) {
        BmpLayout layout = Layout(3, 2, 32);
        layout.compression = 3;
        layout.infoSize = infoSize;
        layout.masks = masks;
        corpus.Add("bitfields-" + std::to_string(infoSize), kLevel150, bmptest::BuildBmp(layout));
    }

    std::printf("wrote %d seed inputs to %s\n", corpus.count(), argv[1]);
    return 0;
}
