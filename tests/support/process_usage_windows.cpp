// Windows: the C runtime's descriptors counted, the address space walked
// region by region, and the C runtime's heap walked block by block.
#include <windows.h>
// After windows.h, which they need.
#include <io.h>
#include <malloc.h>
#include <stdlib.h>

#include "process_usage.h"

namespace bmptest {
namespace {

// The runtime reports an unused descriptor to this handler as well as in
// its result; the default handler ends the process.
void IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                            uintptr_t) {}

}  // namespace

// The library opens files through the C runtime, whose descriptors are
// counted; the kernel's handle count is not kept under Wine (always 0).
int OpenDescriptors() {
    constexpr int kMaxDescriptors = 2048;  // the runtime's own limit
    const _invalid_parameter_handler previous =
        _set_invalid_parameter_handler(IgnoreInvalidParameter);
    int count = 0;
    for (int fd = 0; fd < kMaxDescriptors; ++fd) {
        if (_get_osfhandle(fd) != -1) ++count;
    }
    _set_invalid_parameter_handler(previous);
    return count;
}

uint64_t MappedBytes() {
    uint64_t bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    const char* at = nullptr;
    while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State != MEM_FREE) bytes += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return bytes;
}

size_t HeapInUse() {
    size_t bytes = 0;
    _HEAPINFO entry{};
    while (_heapwalk(&entry) == _HEAPOK) {
        if (entry._useflag == _USEDENTRY) bytes += entry._size;
    }
    return bytes;
}

}  // namespace bmptest
