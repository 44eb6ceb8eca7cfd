#include "contrast_curve.h"

namespace bmpc {

float ContrastFactor(int32_t level) { return static_cast<float>(level) * kPercent; }

uint8_t ContrastByte(uint8_t value, float factor) {
    float v = static_cast<float>(value);
    v = v - kMidpoint;
    v = v * factor;
    v = v + kMidpoint;
    // Clamping before the conversion keeps it in range at any level (a huge
    // factor puts v far outside int32). For every v it equals truncating
    // first and clamping the integer: trunc maps (-1, 0) to 0 and
    // (255, 256) to 255.
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(static_cast<int32_t>(v));
}

void BuildContrastTable(float factor, ContrastTable& table) {
    table.factor = factor;
    for (int value = 0; value < 256; ++value) {
        table.map[value] = ContrastByte(static_cast<uint8_t>(value), factor);
    }
}

}  // namespace bmpc
