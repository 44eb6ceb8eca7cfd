// The table applied 16 bytes at a time with AArch64 NEON: tbl looks up in
// 64 table bytes (four registers), tbx fills in from the next 64 only the
// lanes whose shifted index falls in range, so four steps cover 256 entries.
#include "contrast_kernels.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#include <cstring>

namespace bmpc {
namespace {

struct NeonTable {
    uint8x16x4_t q0, q1, q2, q3;
};

inline uint8x16_t Lookup(uint8x16_t idx, const NeonTable& t) {
    const uint8x16_t step = vdupq_n_u8(64);
    // Indices below 64 wrap to 192..255 on each subtraction and stay out of
    // range for the later steps; tbx leaves those lanes as they are.
    uint8x16_t r = vqtbl4q_u8(t.q0, idx);
    idx = vsubq_u8(idx, step);
    r = vqtbx4q_u8(r, t.q1, idx);
    idx = vsubq_u8(idx, step);
    r = vqtbx4q_u8(r, t.q2, idx);
    idx = vsubq_u8(idx, step);
    return vqtbx4q_u8(r, t.q3, idx);
}

}  // namespace

void ContrastKernelNeon(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table) {
    const NeonTable t{vld1q_u8_x4(table.map), vld1q_u8_x4(table.map + 64),
                      vld1q_u8_x4(table.map + 128), vld1q_u8_x4(table.map + 192)};
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const uint8x16_t a = vld1q_u8(in + i);
        const uint8x16_t b = vld1q_u8(in + i + 16);
        vst1q_u8(out + i, Lookup(a, t));
        vst1q_u8(out + i + 16, Lookup(b, t));
    }
    for (; i + 16 <= n; i += 16) vst1q_u8(out + i, Lookup(vld1q_u8(in + i), t));
    if (i < n) {
        // The tail goes through a local block: nothing past either buffer
        // is read or written.
        uint8_t block[16] = {};
        const size_t rest = n - i;
        std::memcpy(block, in + i, rest);
        vst1q_u8(block, Lookup(vld1q_u8(block), t));
        std::memcpy(out + i, block, rest);
    }
}

// Every step starts a multiple of 16 bytes in, so one select pattern serves
// them all; built from bytes, it holds on either byte order.
void ContrastKernelKeepingNeon(const uint8_t* in, uint8_t* out, size_t n,
                               const ContrastTable& table, unsigned keep) {
    const NeonTable t{vld1q_u8_x4(table.map), vld1q_u8_x4(table.map + 64),
                      vld1q_u8_x4(table.map + 128), vld1q_u8_x4(table.map + 192)};
    uint8_t pattern[16];
    for (unsigned j = 0; j < 16; ++j) pattern[j] = (keep >> (j & 3u)) & 1u ? 0xFF : 0;
    const uint8x16_t kept = vld1q_u8(pattern);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const uint8x16_t a = vld1q_u8(in + i);
        vst1q_u8(out + i, vbslq_u8(kept, a, Lookup(a, t)));
    }
    if (i < n) {
        uint8_t block[16] = {};
        const size_t rest = n - i;
        std::memcpy(block, in + i, rest);
        const uint8x16_t a = vld1q_u8(block);
        vst1q_u8(block, vbslq_u8(kept, a, Lookup(a, t)));
        std::memcpy(out + i, block, rest);
    }
}

bool NeonSupported() { return true; }  // part of the AArch64 base

}  // namespace bmpc

#endif
