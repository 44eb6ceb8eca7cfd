#include "refusal_hint.h"

#include <cstring>

#include "bmpcontrast.h"
#include "report.h"

namespace bmpcontrast_cli {
namespace {

using bmpc::Layout;

// ImageMagick's way to a file the library reads in either mode: the
// 40-byte header, no bit fields, and no alpha (so 24-bit).
constexpr char kPlainBmp[] = "ImageMagick: convert IN -define bmp:format=bmp3 -alpha off OUT.bmp";

bool StartsWith(const bmpc::LeadBytes& lead, const char* magic, size_t size, size_t at = 0) {
    return lead.size >= at + size && std::memcmp(lead.bytes + at, magic, size) == 0;
}

// Formats people mistake for a bitmap, by their signatures.
const char* OtherFormat(const bmpc::LeadBytes& lead) {
    if (StartsWith(lead, "\x89PNG\r\n\x1A\n", 8)) return "a PNG image";
    if (StartsWith(lead, "\xFF\xD8\xFF", 3)) return "a JPEG image";
    if (StartsWith(lead, "GIF87a", 6) || StartsWith(lead, "GIF89a", 6)) return "a GIF image";
    if (StartsWith(lead, "II*\0", 4) || StartsWith(lead, "MM\0*", 4)) return "a TIFF image";
    if (StartsWith(lead, "RIFF", 4) && StartsWith(lead, "WEBP", 4, 8)) return "a WebP image";
    if (StartsWith(lead, "qoif", 4)) return "a QOI image";
    return nullptr;
}

std::string Compression(const bmpc::Description& d) {
    return "(biCompression " + std::to_string(d.info.biCompression) + ")";
}

std::string PixelLimit(const bmpc::Description& d) {
    const int64_t h = d.info.biHeight;
    return std::to_string(d.info.biWidth) + " x " + std::to_string(h < 0 ? -h : h) + " pixels at " +
           std::to_string(d.info.biBitCount) +
           " bits hold more than 2 GiB of pixel data, the most a BMP's 32-bit sizes allow";
}

// What the layout is, and how to get a file that converts: in contract
// mode --colour where colour mode takes such a file.
std::string ForLayout(const bmpc::Description& d) {
    const bool contract = d.mode == bmpc::Mode::Contract;
    const std::string bits = std::to_string(d.info.biBitCount) + "-bit";
    switch (d.layout) {
        case Layout::Indexed:
            return bits + " colour-table image; --colour adjusts its colour table, or save it " +
                   "as 8-bit or 24-bit";
        case Layout::IndexedRle:
            return bits + " with RLE compression " + Compression(d) +
                   "; --colour adjusts its colour table, or save it uncompressed";
        case Layout::BitFields32:
            if (contract) {
                return "32-bit with bit-field masks " + Compression(d) +
                       "; --colour converts it, keeping alpha, where each mask is one whole " +
                       "byte (as ImageMagick writes them); or save it as 24-bit (" + kPlainBmp +
                       ")";
            }
            // The library's line says what is wrong with the masks.
            return "32-bit with bit-field masks " + Compression(d) + "; save it as 24-bit (" +
                   kPlainBmp + ")";
        case Layout::Rgb16:
            return "16-bit pixels; save it as 24-bit";
        case Layout::Jpeg:
            return "holds a JPEG image " + Compression(d) + "; save it as an uncompressed BMP";
        case Layout::Png:
            return "holds a PNG image " + Compression(d) + "; save it as an uncompressed BMP";
        case Layout::Other:
            if (d.info.biBitCount == 2)
                return "2-bit colour-table image; save it as 8-bit or 24-bit";
            if (d.info.biCompression == 1 || d.info.biCompression == 2) {
                return bits + " with RLE compression " + Compression(d) + "; save it uncompressed";
            }
            if (d.info.biCompression != 0) {
                return bits + ", compressed " + Compression(d) + "; save it uncompressed";
            }
            return "";
        default:
            return "";
    }
}

}  // namespace

std::string RefusalHint(const bmpc::Description& d, const std::string& shown) {
    const std::string name = Quoted(shown) + ": ";
    if (!d.headersRead) {
        const char* other = OtherFormat(d.lead);
        if (other == nullptr) return "";
        // Colour mode takes what ImageMagick writes by default, alpha and all.
        const std::string how = d.mode == bmpc::Mode::Colour
                                    ? "ImageMagick: convert IN OUT.bmp, which keeps alpha"
                                    : kPlainBmp;
        return name + other + ", not a BMP file; save it as BMP first (" + how + ")";
    }
    if (d.result == BMPCONTRAST_INVALID_DIMENSIONS && d.info.biWidth > 0 && d.info.biHeight != 0 &&
        d.layout != Layout::IndexedRle) {
        return name + PixelLimit(d);
    }
    if (d.result != BMPCONTRAST_COMPRESSION_UNSUPPORTED &&
        d.result != BMPCONTRAST_UNSUPPORTED_BIT_DEPTH) {
        return "";
    }
    const std::string hint = ForLayout(d);
    return hint.empty() ? "" : name + hint;
}

}  // namespace bmpcontrast_cli
