// Kernels that map a run of pixel bytes through the contrast curve. Each one
// gives exactly the bytes of the scalar kernel; only the speed differs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../contrast_curve.h"

namespace bmpc {

// out[i] = table.map[in[i]] for i < n. `in` and `out` are either the same
// block (in place) or do not overlap. No kernel reads or writes outside
// [in, in + n) and [out, out + n).
using ContrastKernel = void (*)(const uint8_t* in, uint8_t* out, size_t n,
                                const ContrastTable& table);

// The same, with some bytes of every four copied as they are: where bit
// (i % 4) of `keep` (0..15) is set, out[i] = in[i]. Four-byte pixels whose
// alpha or unused byte must not change, and colour-table entries, go
// through it with `keep` turned to the phase of `in` in the pixel.
using KeepingKernel = void (*)(const uint8_t* in, uint8_t* out, size_t n,
                               const ContrastTable& table, unsigned keep);

struct KernelInfo {
    const char* name;
    ContrastKernel apply;
    KeepingKernel applyKeeping;
    bool (*supported)();  // true where the running CPU can execute it
};

void ContrastKernelScalar(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table);
void ContrastKernelKeepingScalar(const uint8_t* in, uint8_t* out, size_t n,
                                 const ContrastTable& table, unsigned keep);

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
void ContrastKernelAvx512Vbmi(const uint8_t* in, uint8_t* out, size_t n,
                              const ContrastTable& table);
void ContrastKernelKeepingAvx512Vbmi(const uint8_t* in, uint8_t* out, size_t n,
                                     const ContrastTable& table, unsigned keep);
bool Avx512VbmiSupported();
void ContrastKernelAvx2(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table);
void ContrastKernelKeepingAvx2(const uint8_t* in, uint8_t* out, size_t n,
                               const ContrastTable& table, unsigned keep);
bool Avx2Supported();
#define BMPC_HAVE_X86_KERNELS 1
#endif

#if defined(__aarch64__)
void ContrastKernelNeon(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table);
void ContrastKernelKeepingNeon(const uint8_t* in, uint8_t* out, size_t n,
                               const ContrastTable& table, unsigned keep);
bool NeonSupported();
#define BMPC_HAVE_NEON_KERNEL 1
#endif

// Every kernel built for this architecture, fastest first; the last one is
// the scalar kernel, which runs everywhere.
const KernelInfo* AllKernels(size_t& count);

// The fastest kernels the running CPU supports, chosen by CPU features
// alone, once per process.
const KernelInfo& SelectKernel();

// `keep` for a run that starts `phase` bytes into a four-byte group.
inline unsigned KeepAtPhase(unsigned keep, unsigned phase) {
    phase &= 3u;
    return ((keep >> phase) | (keep << (4u - phase))) & 15u;
}

}  // namespace bmpc
