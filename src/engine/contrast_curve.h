// The contrast curve: level -> binary32 factor -> one adjusted byte.
//
// Every step is one binary32 operation rounded to nearest. The build turns
// off floating-point contraction: a fused (v - 128) * f + 128 rounds once
// instead of twice and gives different bytes (level 110, byte 18: 7, not 6
// or 8).
#pragma once

#include <cstdint>

namespace bmpc {

// 0.01 as binary32 (bit pattern 0x3C23D70A); levels are percent.
inline constexpr float kPercent = 0.01f;
inline constexpr float kMidpoint = 128.0f;

// level * 0.01 in binary32. Positive exactly when level > 0.
float ContrastFactor(int32_t level);

// The curve for one byte: trunc((value - 128) * factor + 128) clamped to
// 0..255. Values beyond the 32-bit range saturate to the end of the range
// they lie on.
uint8_t ContrastByte(uint8_t value, float factor);

// The curve for all 256 byte values; the transform looks bytes up in it.
struct ContrastTable {
    float factor;
    uint8_t map[256];
};

void BuildContrastTable(float factor, ContrastTable& table);

}  // namespace bmpc
