// Linux: counted in /proc, and by glibc's allocator.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "process_usage.h"

namespace bmptest {

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

uint64_t MappedBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    if (f == nullptr || std::fscanf(f, "%llu", &pages) != 1) std::abort();
    std::fclose(f);
    return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

size_t HeapInUse() { return mallinfo2().uordblks; }

}  // namespace bmptest
