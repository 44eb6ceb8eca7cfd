// What a call on a file would do, decided from its headers and its size.
#include <algorithm>
#include <cstdint>

#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "engine.h"
#include "messages.h"
#include "size_limits.h"

namespace bmpc {
namespace {

// The input's layout is kept where its pixel data follows the headers or
// starts within the file; the bytes in between (a colour table, the rest of
// a longer info header) and those after the pixels (an ICC profile) are then
// carried over. Only bytes the file holds are planned for: a damaged offset
// must not make the call allocate for bytes that are not there. Colour mode
// takes a source without a size (a pipe) at its word up to a bound: the
// colour table and the masks it needs lie there.
OutputPlan PlanOutput(int32_t offBits, int32_t headersEnd, size_t pixelBytes, int64_t fileSize,
                      Mode mode) {
    OutputPlan plan;
    const bool trusted = mode == Mode::Colour && fileSize <= 0 && offBits >= headersEnd &&
                         offBits - headersEnd <= static_cast<int64_t>(kMaxTrailerBytes);
    if (offBits != headersEnd && !trusted && (offBits < headersEnd || offBits > fileSize)) {
        return plan;
    }
    plan.keepsLayout = true;
    plan.carried = static_cast<size_t>(offBits - headersEnd);
    const int64_t pixelsEnd = int64_t{offBits} + static_cast<int64_t>(pixelBytes);
    if (fileSize <= pixelsEnd || fileSize - pixelsEnd > static_cast<int64_t>(kMaxTrailerBytes)) {
        return plan;
    }
    const auto trailer = static_cast<size_t>(fileSize - pixelsEnd);
    // Only where the output block's size fits in a size_t (a 32-bit one).
    if (plan.carried + pixelBytes <= SIZE_MAX - trailer) plan.trailer = trailer;
    return plan;
}

bool Refuse(Description& d, int32_t result, const char* line) {
    d.result = result;
    d.line = line;
    return false;
}

// The checks of dimensions, depth and compression, in that order.
bool CheckHeaders(Description& d) {
    const BMPInfoHeader& info = d.info;
    if (info.biWidth <= 0 || info.biHeight == 0) {
        return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
    }
    // The core layout has no 32-bit pixels and no compression field.
    if (info.biBitCount != 24 && info.biBitCount != 8 &&
        (IsCoreHeader(info) || info.biBitCount != 32)) {
        return Refuse(d, UnsupportedBitDepth, msg::kUnsupportedDepth);
    }
    if (info.biCompression != 0) {
        return Refuse(d, CompressionUnsupported, msg::kCompressed);
    }
    if (!ComputeGeometry(info.biWidth, info.biHeight, info.biBitCount, d.geometry)) {
        return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
    }
    return true;
}

Layout Classify(const BMPInfoHeader& info) {
    const uint32_t bits = info.biBitCount, compression = info.biCompression;
    if (IsCoreHeader(info)) {  // no compression field
        if (bits == 1 || bits == 4 || bits == 8) return Layout::Indexed;
        return bits == 24 ? Layout::Rgb24 : Layout::Other;
    }
    // Behind the 64-byte OS/2 header, 3 is Huffman coding and 4 is RLE24.
    const bool os2 = info.biSize == 64;
    if (!os2 && compression == 4) return Layout::Jpeg;
    if (!os2 && compression == 5) return Layout::Png;
    switch (bits) {
        case 1:
        case 4:
        case 8:
            if (compression == 0) return Layout::Indexed;
            if ((bits == 8 && compression == 1) || (bits == 4 && compression == 2)) {
                return Layout::IndexedRle;
            }
            return Layout::Other;
        case 16:
            return Layout::Rgb16;
        case 24:
            return compression == 0 ? Layout::Rgb24 : Layout::Other;
        case 32:
            if (compression == 0) return Layout::Rgb32;
            return !os2 && (compression == 3 || compression == 6) ? Layout::BitFields32
                                                                  : Layout::Other;
        default:
            return Layout::Other;
    }
}

// Colour mode's checks: dimensions, then what the file is, then sizes.
bool CheckColourHeaders(Description& d) {
    const BMPInfoHeader& info = d.info;
    if (info.biWidth <= 0 || info.biHeight == 0) {
        return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
    }
    switch (d.layout) {
        case Layout::Rgb16:
            return Refuse(d, UnsupportedBitDepth, msg::colour::kDepth16);
        case Layout::Jpeg:
            return Refuse(d, CompressionUnsupported, msg::colour::kJpeg);
        case Layout::Png:
            return Refuse(d, CompressionUnsupported, msg::colour::kPng);
        case Layout::Other: {
            const uint32_t bits = info.biBitCount;
            if (bits == 32 && IsCoreHeader(info)) {
                return Refuse(d, UnsupportedBitDepth, msg::colour::kCore32);
            }
            if (bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32) {
                return Refuse(d, CompressionUnsupported, msg::colour::kCompression);
            }
            return Refuse(d, UnsupportedBitDepth, msg::colour::kDepth);
        }
        default:
            break;
    }
    // RLE data is copied, not walked: only a height with no 32-bit
    // magnitude is wrong in itself.
    if (d.layout == Layout::IndexedRle) {
        if (info.biHeight != INT32_MIN) return true;
    } else if (ComputeGeometry(info.biWidth, info.biHeight, info.biBitCount, d.geometry)) {
        return true;
    }
    return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
}

// The RLE data is the rest of the file; a source without a size is taken at
// the header's word.
bool SizeRleData(Description& d) {
    const int64_t offBits = d.file.bfOffBits;
    int64_t size = 0;
    if (d.fileSize > 0) {
        if (offBits >= 0 && offBits <= d.fileSize) size = d.fileSize - offBits;
    } else if (d.info.biSizeImage != 0) {
        size = d.info.biSizeImage;
    } else {
        return Refuse(d, HeaderReadFailed, msg::colour::kRleSize);
    }
    if (size > kMaxPixelDataBytes) return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
    const int64_t height = d.info.biHeight;
    d.geometry = PixelGeometry{0, static_cast<int32_t>(height < 0 ? -height : height), 0, 0,
                               static_cast<int32_t>(size)};
    return true;
}

// The entries the indices can reach, as many as lie before the pixel data.
bool FindColourTable(Description& d) {
    const BMPInfoHeader& info = d.info;
    const bool core = IsCoreHeader(info);
    d.entrySize = core ? 3 : 4;
    d.tableStart = core ? kCoreHeadersSize : int64_t{14} + std::max<int64_t>(info.biSize, 40);
    const uint64_t reachable = uint64_t{1} << info.biBitCount;
    const uint64_t declared =
        info.biClrUsed != 0 ? std::min<uint64_t>(info.biClrUsed, reachable) : reachable;
    const int64_t tableEnd = int64_t{d.headersEnd} + static_cast<int64_t>(d.plan.carried);
    const int64_t room = d.plan.keepsLayout ? (tableEnd - d.tableStart) / d.entrySize : 0;
    if (room <= 0) return Refuse(d, HeaderReadFailed, msg::colour::kNoColourTable);
    d.tableEntries = static_cast<uint32_t>(std::min<uint64_t>(declared, uint64_t(room)));
    d.treatment = Treatment::ColourTable;
    return true;
}

// Which byte of a pixel a mask covers whole; -1 where it covers no byte
// exactly.
int WholeByte(uint32_t mask) {
    for (int k = 0; k < 4; ++k) {
        if (mask == 0xFFu << (8 * k)) return k;
    }
    return -1;
}

// The masks follow a 40-byte info header (three, or four with alpha under
// compression 6) or are its fields in the longer ones. Each colour mask,
// and an alpha mask where there is one, must cover a byte of its own.
bool ReadMasks(ByteSource& in, Description& d) {
    const uint32_t size = d.info.biSize;
    uint32_t count = 0;
    if (size == 40) {
        count = d.info.biCompression == 6 ? 4 : 3;
    } else if (size == 52) {
        count = 3;
    } else if (size == 56 || size == 108 || size == 124) {
        count = 4;
    } else {
        return Refuse(d, CompressionUnsupported, msg::colour::kMaskHeader);
    }
    const size_t need = 4 * count;
    if (!d.plan.keepsLayout || d.plan.carried < need || ReadUpTo(in, d.ahead, need) != need) {
        return Refuse(d, HeaderReadFailed, msg::colour::kNoMasks);
    }
    d.aheadSize = static_cast<uint32_t>(need);
    unsigned used = 0;
    for (uint32_t c = 0; c < count; ++c) {
        const uint8_t* b = d.ahead + 4 * c;
        d.masks[c] =
            uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
        if (c == 3 && d.masks[c] == 0) break;  // no alpha
        const int k = WholeByte(d.masks[c]);
        if (k < 0 || ((used >> k) & 1u) != 0) {
            return Refuse(d, CompressionUnsupported, msg::colour::kMasks);
        }
        used |= 1u << k;
        if (c < 3) d.curvedBytes = static_cast<uint8_t>(d.curvedBytes | 1u << k);
    }
    d.treatment = Treatment::ColourBytes;
    return true;
}

// What colour mode changes in a file its checks let through.
bool ChooseColourTreatment(ByteSource& in, Description& d) {
    switch (d.layout) {
        case Layout::Indexed:
        case Layout::IndexedRle:
            return FindColourTable(d);
        case Layout::Rgb32:
            d.treatment = Treatment::ColourBytes;
            d.curvedBytes = 0b0111;
            return true;
        case Layout::BitFields32:
            return ReadMasks(in, d);
        default:
            d.treatment = Treatment::EveryByte;
            return true;
    }
}

}  // namespace

bool DescribeLevel(int32_t level, Description& d) {
    d = Description{};
    d.level = level;
    if (ContrastFactor(level) > 0.0f) return true;
    return Refuse(d, LevelNotPositive, msg::kLevelNotPositive);
}

void DescribeFile(ByteSource& in, Description& d, Mode mode) {
    d.mode = mode;
    d.fileSize = in.Size();
    if (!ReadBMPHeaders(in, d.file, d.info, d.line, &d.lead)) {
        d.result = HeaderReadFailed;
        return;
    }
    d.headersRead = true;
    d.headersEnd = HeadersEnd(d.info);
    d.layout = Classify(d.info);
    if (mode == Mode::Contract) {
        if (!CheckHeaders(d)) return;
        d.treatment = Treatment::EveryByte;
    } else if (!CheckColourHeaders(d) || (d.layout == Layout::IndexedRle && !SizeRleData(d))) {
        return;
    }

    const auto pixelBytes = static_cast<size_t>(d.geometry.size);
    d.plan = PlanOutput(d.file.bfOffBits, d.headersEnd, pixelBytes, d.fileSize, mode);
    // A negative offset cannot be sought to: the pixels are then read from
    // the end of the headers (and the carried bytes, of which there are
    // none then).
    d.pixelStart = d.file.bfOffBits >= 0 ? int64_t{d.file.bfOffBits}
                                         : int64_t{d.headersEnd} + int64_t(d.plan.carried);
    if (mode == Mode::Colour && !ChooseColourTreatment(in, d)) return;
    d.complete = d.fileSize <= 0 || d.pixelStart + int64_t{d.geometry.size} <= d.fileSize;
    d.outputSize =
        uint64_t(d.headersEnd) + d.plan.carried + pixelBytes + (d.complete ? d.plan.trailer : 0);
    d.result = Success;
}

}  // namespace bmpc
