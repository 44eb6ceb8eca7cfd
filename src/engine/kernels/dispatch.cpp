#include "contrast_kernels.h"

namespace bmpc {
namespace {

bool Always() { return true; }

const KernelInfo kKernels[] = {
#if defined(BMPC_HAVE_X86_KERNELS)
    {"avx512vbmi", ContrastKernelAvx512Vbmi, Avx512VbmiSupported},
    {"avx2", ContrastKernelAvx2, Avx2Supported},
#endif
#if defined(BMPC_HAVE_NEON_KERNEL)
    {"neon", ContrastKernelNeon, NeonSupported},
#endif
    {"scalar", ContrastKernelScalar, Always},
};

}  // namespace

const KernelInfo* AllKernels(size_t& count) {
    count = sizeof(kKernels) / sizeof(kKernels[0]);
    return kKernels;
}

namespace {

ContrastKernel FirstSupported() {
    size_t count = 0;
    const KernelInfo* kernels = AllKernels(count);
    for (size_t i = 0; i < count; ++i) {
        if (kernels[i].supported()) return kernels[i].apply;
    }
    return ContrastKernelScalar;
}

}  // namespace

ContrastKernel SelectKernel() {
    // The processor does not change under a running process: probed once.
    static const ContrastKernel chosen = FirstSupported();
    return chosen;
}

}  // namespace bmpc
