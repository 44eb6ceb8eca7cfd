#include "contrast_kernels.h"

namespace bmpc {

void ContrastKernelScalar(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table) {
    for (size_t i = 0; i < n; ++i) out[i] = table.map[in[i]];
}

void ContrastKernelKeepingScalar(const uint8_t* in, uint8_t* out, size_t n,
                                 const ContrastTable& table, unsigned keep) {
    for (size_t i = 0; i < n; ++i) out[i] = (keep >> (i & 3u)) & 1u ? in[i] : table.map[in[i]];
}

}  // namespace bmpc
