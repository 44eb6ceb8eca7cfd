#include "memory_policy.h"

#include <cstddef>
#include <cstdlib>  // defines __GLIBC__ where that is the C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace bmpcontrast_cli {
namespace {

#if defined(__GLIBC__)
// glibc serves blocks above its mmap threshold (128 KiB to start with) from
// their own mappings and unmaps them on free, so every file of a batch
// faulted its pixel blocks in anew: 200 files of 1 MP took twice as long as
// copying them. Blocks below the threshold come from the heap, which keeps
// what is freed unless its free top exceeds the trim threshold.
//
// The threshold is raised as far as glibc accepts (32 MiB on 64-bit
// systems, less on 32-bit ones), which covers both blocks of a file up to
// about 10 MP; larger files keep their own mappings, so a single large file
// costs no more memory than before. The trim threshold is set above what
// two such blocks per worker leave free.
constexpr size_t kLargestKeptBlock = size_t{32} << 20;
constexpr size_t kKeptFreeTop = size_t{256} << 20;
#endif

}  // namespace

bool KeepFreedPixelMemory() {
#if defined(__GLIBC__)
    bool set = false;
    for (size_t threshold = kLargestKeptBlock; !set && threshold >= (size_t{1} << 20);
         threshold /= 2) {
        set = mallopt(M_MMAP_THRESHOLD, static_cast<int>(threshold)) != 0;
    }
    return mallopt(M_TRIM_THRESHOLD, static_cast<int>(kKeptFreeTop)) != 0 && set;
#else
    return false;
#endif
}

}  // namespace bmpcontrast_cli
