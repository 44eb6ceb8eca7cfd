#include "contrast_kernels.h"

namespace bmpc {

void ContrastKernelScalar(const uint8_t* in, uint8_t* out, size_t n, const ContrastTable& table) {
    for (size_t i = 0; i < n; ++i) out[i] = table.map[in[i]];
}

// Four bytes a step, so that which byte is kept is known at each one.
void ContrastKernelKeepingScalar(const uint8_t* in, uint8_t* out, size_t n,
                                 const ContrastTable& table, unsigned keep) {
    const bool k0 = (keep & 1u) != 0, k1 = (keep & 2u) != 0, k2 = (keep & 4u) != 0,
               k3 = (keep & 8u) != 0;
    const uint8_t* map = table.map;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const uint8_t a = in[i], b = in[i + 1], c = in[i + 2], d = in[i + 3];
        out[i] = k0 ? a : map[a];
        out[i + 1] = k1 ? b : map[b];
        out[i + 2] = k2 ? c : map[c];
        out[i + 3] = k3 ? d : map[d];
    }
    for (; i < n; ++i) out[i] = (keep >> (i & 3u)) & 1u ? in[i] : map[in[i]];
}

}  // namespace bmpc
