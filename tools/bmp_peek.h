// The tool's own look at a bitmap's headers, before and after the library's
// call: the checks a person can ask for (--strict, --max-pixels), the
// colour-table warning; refusal_hint.h explains refusals from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bmpcontrast_cli {

struct BmpPeek {
    uint64_t fileSize = 0;
    uint32_t offBits = 0;
    uint32_t infoSize = 0;
    int64_t width = 0, height = 0;  // height negative: top-down
    uint32_t bitCount = 0;
    uint32_t compression = 0;
    bool greyPalette = true;  // 8-bit only: every colour-table entry is grey
};

// Null when the file cannot be read or does not start with a usable
// header; the library then says what is wrong.
std::optional<BmpPeek> PeekBmp(const std::string& path);

// Pixel bytes the header claims, and where they start in the file.
uint64_t ClaimedPixelBytes(const BmpPeek& peek);
uint64_t PixelStart(const BmpPeek& peek);

// Why --strict or --max-pixels refuses the file before converting it, or "".
std::string PreCheck(const BmpPeek& peek, bool strict, uint64_t maxPixels);

// For an 8-bit file whose colour table is not grey, the warning, or "".
std::string PaletteWarning(const BmpPeek& peek, const std::string& shown);

}  // namespace bmpcontrast_cli
