#include <atomic>

#include "contrast_kernels.h"

namespace bmpc {
namespace {

bool Always() { return true; }

const KernelInfo kKernels[] = {
#if defined(BMPC_HAVE_X86_KERNELS)
    {"avx512vbmi", ContrastKernelAvx512Vbmi, ContrastKernelKeepingAvx512Vbmi, Avx512VbmiSupported},
    {"avx2", ContrastKernelAvx2, ContrastKernelKeepingAvx2, Avx2Supported},
#endif
#if defined(BMPC_HAVE_NEON_KERNEL)
    {"neon", ContrastKernelNeon, ContrastKernelKeepingNeon, NeonSupported},
#endif
    {"scalar", ContrastKernelScalar, ContrastKernelKeepingScalar, Always},
};

// The choice, made at the first conversion. Constant-initialised, so it
// needs no guard (and so no C++ runtime); threads that race on the first
// choice all store the same entry.
std::atomic<const KernelInfo*> chosen{nullptr};

}  // namespace

const KernelInfo* AllKernels(size_t& count) {
    count = sizeof(kKernels) / sizeof(kKernels[0]);
    return kKernels;
}

const KernelInfo& SelectKernel() {
    const KernelInfo* kernel = chosen.load(std::memory_order_acquire);
    if (kernel != nullptr) return *kernel;
    size_t count = 0;
    const KernelInfo* kernels = AllKernels(count);
    kernel = &kernels[count - 1];  // the scalar kernel runs everywhere
    for (size_t i = 0; i < count; ++i) {
        if (kernels[i].supported()) {
            kernel = &kernels[i];
            break;
        }
    }
    chosen.store(kernel, std::memory_order_release);
    return *kernel;
}

}  // namespace bmpc
