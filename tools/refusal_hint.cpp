#include "refusal_hint.h"

#include "bmpcontrast.h"
#include "report.h"

namespace bmpcontrast_cli {

std::string RefusalHint(const bmpc::Description& d, const std::string& shown) {
    const uint32_t bitCount = d.info.biBitCount, compression = d.info.biCompression;
    const std::string name = Quoted(shown) + ": ";
    if (!d.headersRead) return "";
    if (d.result == BMPCONTRAST_INVALID_DIMENSIONS && d.info.biWidth > 0 && d.info.biHeight != 0) {
        const int64_t h = d.info.biHeight;
        return name + std::to_string(d.info.biWidth) + " x " + std::to_string(h < 0 ? -h : h) +
               " pixels at " + std::to_string(bitCount) +
               " bits hold more than 2 GiB of pixel data, the most a BMP's 32-bit sizes allow";
    }
    if (d.result != BMPCONTRAST_COMPRESSION_UNSUPPORTED &&
        d.result != BMPCONTRAST_UNSUPPORTED_BIT_DEPTH) {
        return "";
    }
    const std::string bits = std::to_string(bitCount) + "-bit";
    switch (bitCount) {
        case 1:
        case 2:
        case 4:
            return name + bits + " palette image; save it as 8-bit or 24-bit";
        case 16:
            return name + "16-bit pixels; save it as 24-bit";
        default:
            break;
    }
    switch (compression) {
        case 1:
        case 2:
            return name + bits + " with RLE compression (biCompression " +
                   std::to_string(compression) + "); save it uncompressed";
        case 3:
            return name + bits + " with bit-field masks (biCompression 3); save it as plain " +
                   "32-bit or 24-bit";
        case 4:
            return name + "holds a JPEG image (biCompression 4); save it as an uncompressed BMP";
        case 5:
            return name + "holds a PNG image (biCompression 5); save it as an uncompressed BMP";
        default:
            return "";
    }
}

}  // namespace bmpcontrast_cli
