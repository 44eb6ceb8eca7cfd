#include "bmp_peek.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "platform/platform.h"
#include "report.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

uint32_t LE(const std::vector<unsigned char>& b, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t k = 0; k < n; ++k) v |= uint32_t{b[at + k]} << (8 * k);
    return v;
}

}  // namespace

std::optional<BmpPeek> PeekBmp(const std::string& path) {
    // Reading a pipe or a device would take bytes the library needs.
    const auto info = platform::Stat(path);
    if (!info || !info->regular) return std::nullopt;
    std::ifstream in(PathOf(path), std::ios::binary);
    if (!in) return std::nullopt;
    // The headers and the largest colour table an 8-bit file can have.
    std::vector<unsigned char> b(14 + 124 + 256 * 4);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    const auto got = static_cast<size_t>(in.gcount());
    in.clear();
    in.seekg(0, std::ios::end);
    BmpPeek p;
    p.fileSize = static_cast<uint64_t>(in.tellg());
    if (got < 26 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
    p.offBits = LE(b, 10, 4);
    p.infoSize = LE(b, 14, 4);
    size_t entry = 4;
    uint32_t colours = 0;
    if (p.infoSize == 12) {
        // The core header: 16-bit sizes, 3-byte colour entries.
        p.width = LE(b, 18, 2);
        p.height = LE(b, 20, 2);
        p.bitCount = LE(b, 24, 2);
        entry = 3;
    } else {
        if (got < 54) return std::nullopt;
        p.width = static_cast<int32_t>(LE(b, 18, 4));
        p.height = static_cast<int32_t>(LE(b, 22, 4));
        p.bitCount = LE(b, 28, 2);
        p.compression = LE(b, 30, 4);
        colours = LE(b, 46, 4);
    }
    if (p.bitCount == 8) {
        const size_t table = 14 + (p.infoSize == 12 ? 12 : std::max<size_t>(p.infoSize, 40));
        size_t count = colours != 0 && colours < 256 ? colours : 256;
        if (p.offBits > table) count = std::min(count, (p.offBits - table) / entry);
        for (size_t k = 0; k < count && table + k * entry + 3 <= got; ++k) {
            const size_t at = table + k * entry;
            if (b[at] != b[at + 1] || b[at] != b[at + 2]) p.greyPalette = false;
        }
    }
    return p;
}

uint64_t ClaimedPixelBytes(const BmpPeek& p) {
    const uint64_t width = p.width < 0 ? 0 : static_cast<uint64_t>(p.width);
    const uint64_t height = static_cast<uint64_t>(p.height < 0 ? -p.height : p.height);
    const uint64_t stride = (width * p.bitCount + 31) / 32 * 4;
    return stride * height;
}

uint64_t PixelStart(const BmpPeek& p) {
    // Where the library reads the pixels from: past the headers when the
    // offset points into the file, else right after the 54 header bytes.
    return p.offBits >= 54 && p.offBits <= p.fileSize ? p.offBits : 54;
}

std::string PreCheck(const BmpPeek& p, bool strict, uint64_t maxPixels) {
    const uint64_t height = static_cast<uint64_t>(p.height < 0 ? -p.height : p.height);
    const uint64_t pixels = (p.width < 0 ? 0 : static_cast<uint64_t>(p.width)) * height;
    if (maxPixels != 0 && pixels > maxPixels) {
        return "the header claims " + std::to_string(p.width) + " x " + std::to_string(height) +
               " pixels, more than --max-pixels " + std::to_string(maxPixels);
    }
    if (strict) {
        const uint64_t need = PixelStart(p) + ClaimedPixelBytes(p);
        if (need > p.fileSize) {
            return "truncated: the header claims " + std::to_string(need) +
                   " bytes, the file has " + std::to_string(p.fileSize) + " (--strict)";
        }
    }
    return "";
}

std::string PaletteWarning(const BmpPeek& p, const std::string& shown) {
    if (p.bitCount != 8 || p.greyPalette) return "";
    return Quoted(shown) +
           ": warning: the colour table is not grey; colours will shift, because the index "
           "bytes are adjusted, not the colours";
}

}  // namespace bmpcontrast_cli
