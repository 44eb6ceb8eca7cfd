#include "refusal_hint.h"

#include "report.h"

namespace bmpcontrast_cli {

std::string RefusalHint(const bmpc::Description& d, const std::string& shown) {
    const uint32_t bitCount = d.info.biBitCount, compression = d.info.biCompression;
    const std::string name = Quoted(shown) + ": ";
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
