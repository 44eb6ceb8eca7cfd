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

struct KernelInfo {
    const char* name;
    ContrastKernel apply;
    bool (*supported)();  // true where the running CPU can execute it
};

void ContrastKernelScalar(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table);

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
void ContrastKernelAvx512Vbmi(const uint8_t* in, uint8_t* out, size_t n,
                              const ContrastTable& table);
bool Avx512VbmiSupported();
void ContrastKernelAvx2(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table);
bool Avx2Supported();
#define BMPC_HAVE_X86_KERNELS 1
#endif

#if defined(__aarch64__)
void ContrastKernelNeon(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table);
bool NeonSupported();
#define BMPC_HAVE_NEON_KERNEL 1
#endif

// Every kernel built for this architecture, fastest first; the last one is
// the scalar kernel, which runs everywhere.
const KernelInfo* AllKernels(size_t& count);

// The fastest kernel the running CPU supports. Chosen by CPU features alone.
ContrastKernel SelectKernel();

}  // namespace bmpc
