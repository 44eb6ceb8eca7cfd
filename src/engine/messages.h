// The fixed diagnostic lines. Callers match them byte for byte, so they are
// printed exactly as they stand here, with no variable part.
#pragma once

namespace bmpc::msg {

inline constexpr char kSuccess[] = "Success: Contrast adjustment applied.\n";
inline constexpr char kLevelNotPositive[] = "Error: Contrast level must be positive.\n";
inline constexpr char kInvalidDimensions[] = "Error: Invalid image dimensions.\n";
inline constexpr char kUnsupportedDepth[] =
    "Error: Only 8-bit, 24-bit, and 32-bit bitmaps are supported.\n";
inline constexpr char kCompressed[] = "Error: Compressed bitmaps are not supported.\n";
inline constexpr char kNoMemoryInput[] = "Error: Could not allocate memory for pixel data.\n";
inline constexpr char kNoMemoryOutput[] = "Error: Could not allocate memory for output data.\n";
inline constexpr char kShortRead[] = "Warning: Could not read all pixel data.\n";
inline constexpr char kWriteFailed[] = "Error: Could not write output file.\n";

inline constexpr char kNoSignature[] = "Error: Could not read file signature.\n";
inline constexpr char kBadSignature[] = "Error: Invalid BMP file signature.\n";
inline constexpr char kNoFileHeader[] = "Error: Could not read file header.\n";
inline constexpr char kNoInfoSize[] = "Error: Could not read info header size.\n";
inline constexpr char kNoInfoHeader[] = "Error: Could not read info header.\n";

// The colour mode's own refusals, each naming what the file is. The
// exported call never gives them.
namespace colour {

inline constexpr char kDepth16[] = "Error: 16-bit bitmaps are not supported in colour mode.\n";
inline constexpr char kDepth[] =
    "Error: Colour mode supports 1-, 4-, 8-, 24- and 32-bit bitmaps only.\n";
inline constexpr char kCore32[] = "Error: A 32-bit bitmap cannot have a 12-byte info header.\n";
inline constexpr char kJpeg[] = "Error: The bitmap holds a JPEG image, which is not supported.\n";
inline constexpr char kPng[] = "Error: The bitmap holds a PNG image, which is not supported.\n";
inline constexpr char kCompression[] =
    "Error: This compression is not supported at this bit depth in colour mode.\n";
inline constexpr char kMaskHeader[] =
    "Error: Bit fields are supported only with 40-, 52-, 56-, 108- and 124-byte info headers.\n";
inline constexpr char kMasks[] =
    "Error: Bit fields are supported only where each mask is one whole byte.\n";
inline constexpr char kNoMasks[] = "Error: Could not read the bit-field masks.\n";
inline constexpr char kNoColourTable[] = "Error: The bitmap has no colour table.\n";
inline constexpr char kRleSize[] = "Error: The size of the RLE data is not known.\n";

}  // namespace colour

}  // namespace bmpc::msg
