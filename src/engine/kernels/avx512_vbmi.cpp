// The table applied 64 bytes at a time with AVX-512 VBMI: vpermi2b looks a
// byte up in 128 table bytes, so two lookups (low and high half of the
// table) and a blend on bit 7 of the index cover all 256 entries. This runs
// at about memory speed.
#include "contrast_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define BMPC_VBMI_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace bmpc {
namespace {

struct VbmiTable {
    __m512i t0, t1, t2, t3;
};

BMPC_VBMI_TARGET inline __m512i Lookup(__m512i idx, const VbmiTable& t) {
    const __m512i low = _mm512_permutex2var_epi8(t.t0, idx, t.t1);
    const __m512i high = _mm512_permutex2var_epi8(t.t2, idx, t.t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), low, high);
}

}  // namespace

BMPC_VBMI_TARGET void ContrastKernelAvx512Vbmi(const uint8_t* in, uint8_t* out, size_t n,
                                               const ContrastTable& table) {
    const VbmiTable t{_mm512_loadu_si512(table.map), _mm512_loadu_si512(table.map + 64),
                      _mm512_loadu_si512(table.map + 128), _mm512_loadu_si512(table.map + 192)};
    size_t i = 0;
    for (; i + 256 <= n; i += 256) {
        const __m512i a = _mm512_loadu_si512(in + i);
        const __m512i b = _mm512_loadu_si512(in + i + 64);
        const __m512i c = _mm512_loadu_si512(in + i + 128);
        const __m512i d = _mm512_loadu_si512(in + i + 192);
        _mm512_storeu_si512(out + i, Lookup(a, t));
        _mm512_storeu_si512(out + i + 64, Lookup(b, t));
        _mm512_storeu_si512(out + i + 128, Lookup(c, t));
        _mm512_storeu_si512(out + i + 192, Lookup(d, t));
    }
    for (; i + 64 <= n; i += 64) {
        _mm512_storeu_si512(out + i, Lookup(_mm512_loadu_si512(in + i), t));
    }
    if (i < n) {
        // Masked-off bytes are neither read nor written, and cannot fault.
        const __mmask64 mask = (uint64_t{1} << (n - i)) - 1;  // n - i < 64
        const __m512i v = _mm512_maskz_loadu_epi8(mask, in + i);
        _mm512_mask_storeu_epi8(out + i, mask, Lookup(v, t));
    }
}

// Bit j of the blend mask is bit (j % 4) of `keep`: each nibble is `keep`.
// Every step starts a multiple of 64 bytes in, so one mask serves them all.
BMPC_VBMI_TARGET void ContrastKernelKeepingAvx512Vbmi(const uint8_t* in, uint8_t* out, size_t n,
                                                      const ContrastTable& table, unsigned keep) {
    const VbmiTable t{_mm512_loadu_si512(table.map), _mm512_loadu_si512(table.map + 64),
                      _mm512_loadu_si512(table.map + 128), _mm512_loadu_si512(table.map + 192)};
    const __mmask64 kept = 0x1111111111111111u * (keep & 15u);
    size_t i = 0;
    for (; i + 128 <= n; i += 128) {
        const __m512i a = _mm512_loadu_si512(in + i);
        const __m512i b = _mm512_loadu_si512(in + i + 64);
        _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(kept, Lookup(a, t), a));
        _mm512_storeu_si512(out + i + 64, _mm512_mask_blend_epi8(kept, Lookup(b, t), b));
    }
    for (; i + 64 <= n; i += 64) {
        const __m512i a = _mm512_loadu_si512(in + i);
        _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(kept, Lookup(a, t), a));
    }
    if (i < n) {
        const __mmask64 mask = (uint64_t{1} << (n - i)) - 1;  // n - i < 64
        const __m512i v = _mm512_maskz_loadu_epi8(mask, in + i);
        _mm512_mask_storeu_epi8(out + i, mask, _mm512_mask_blend_epi8(kept, Lookup(v, t), v));
    }
}

bool Avx512VbmiSupported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

}  // namespace bmpc

#endif
