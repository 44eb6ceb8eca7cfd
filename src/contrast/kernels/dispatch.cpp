#include "contrast_kernels.h"

namespace bmpc {
namespace {

bool Always() { return true; }

const KernelInfo kKernels[] = {
    {"scalar", ContrastKernelScalar, Always},
};

}  // namespace

const KernelInfo* AllKernels(size_t& count) {
    count = sizeof(kKernels) / sizeof(kKernels[0]);
    return kKernels;
}

ContrastKernel SelectKernel() {
    size_t count = 0;
    const KernelInfo* kernels = AllKernels(count);
    for (size_t i = 0; i < count; ++i) {
        if (kernels[i].supported()) return kernels[i].apply;
    }
    return ContrastKernelScalar;
}

}  // namespace bmpc
