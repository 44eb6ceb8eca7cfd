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

}  // namespace bmpc::msg
